#pragma once
// The remembered client key, kept in the system keyring (the Secret Service, through
// QtKeychain) as one item: service "com.vorlik.desktop", account "client-key", the key's UTF-8
// bytes as its secret. Never anywhere else: QtKeychain's plain-text fallback stays off, so with
// no keyring the key is simply not remembered.
//
// Threads: the keyring is talked to on one thread of its own (created on first use, kept for
// the life of the process), because QtKeychain serialises its jobs through an object bound to
// the thread that first used it. The plain operations block the calling thread until that
// thread is done: call them from a worker or a tool, never from the UI thread. The window uses
// the *InBackground coroutines instead: they hand the same work to the keyring thread and
// resume the awaiting coroutine on its own thread (the main thread) when it is done.
//
// Status of a failure: a stable signed 32-bit number, QtKeychain's error code, except that an
// "other error" which says that no Secret Service answered is reported as 5 (no keyring):
//   1  the item was not found              (EntryNotFound)
//   2  the item could not be deleted       (CouldNotDeleteEntry)
//   3  the user refused access             (AccessDeniedByUser)
//   4  access refused, e.g. locked keyring (AccessDenied)
//   5  no keyring service available        (NoBackendAvailable; also no Secret Service on the bus)
//   6  not implemented on this platform    (NotImplemented)
//   7  any other error                     (OtherError)
#include <QCoroTask>
#include <QString>

#include <optional>

namespace vorlik::service {

class KeychainStore {
public:
    static constexpr const char *serviceName = "com.vorlik.desktop";
    static constexpr const char *accountName = "client-key";

    struct Result {
        enum class Case { success, alreadyAbsent, failure };
        Case kind = Case::success;
        qint32 status = 0; // failure only

        static Result success() { return {}; }
        static Result alreadyAbsent() { return {Case::alreadyAbsent, 0}; }
        static Result failure(qint32 status) { return {Case::failure, status}; }

        friend bool operator==(const Result &, const Result &) = default;
    };

    // Stores the key exactly as given (the caller trims it), replacing a stored one.
    // success or failure(status).
    static Result save(const QString &key);
    // The stored key; none when there is none, the keyring fails, or it is not UTF-8.
    static std::optional<QString> load();
    // Deletes the item (`delete`, a C++ keyword, hence the name): success, alreadyAbsent when
    // there was none, or failure(status). The Secret Service reports no error for deleting a
    // missing item, so the item is looked up first to tell the two apart.
    static Result remove();

    // The same operations run on the keyring thread, resuming on the caller's thread.
    static QCoro::Task<Result> saveInBackground(QString key);
    static QCoro::Task<std::optional<QString>> loadInBackground();
    static QCoro::Task<Result> removeInBackground();

    // The texts the settings window shows for an outcome.
    static QString saveText(const Result &result);
    static QString removeText(const Result &result);

    // The status for a QtKeychain error code and its message (see the table above).
    static qint32 statusFor(int keychainError, const QString &message);
};

} // namespace vorlik::service
