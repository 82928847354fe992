#include "web/InjectedScripts.h"

namespace vorlik::web {

QString InjectedScripts::embedStyle()
{
    return QStringLiteral(
        "(function () {\n"
        "    var style = document.createElement('style');\n"
        "    style.id = 'vorlik-app-embed';\n"
        "    style.textContent = '.top-bar { display: none !important; } body { padding-top: 20px !important; }';\n"
        "    (document.head || document.documentElement).appendChild(style);\n"
        "})();");
}

QString InjectedScripts::consoleForwarding()
{
    return QStringLiteral(
        "(function () {\n"
        "    function post(label, args) {\n"
        "        try {\n"
        "            var text = Array.prototype.map.call(args, String).join(' ');\n"
        "            if (window.webkit && webkit.messageHandlers && webkit.messageHandlers.vorlikLog) {\n"
        "                webkit.messageHandlers.vorlikLog.postMessage(label + ' ' + text);\n"
        "            }\n"
        "        } catch (e) {}\n"
        "    }\n"
        "    var origError = console.error, origWarn = console.warn;\n"
        "    console.error = function () { post('[console.error]', arguments); return origError.apply(console, arguments); };\n"
        "    console.warn = function () { post('[console.warn]', arguments); return origWarn.apply(console, arguments); };\n"
        "    window.addEventListener('error', function (e) {\n"
        "        post('[window.onerror]', [(e.message || '') + ' @ ' + (e.filename || '') + ':' + (e.lineno || '')]);\n"
        "    });\n"
        "})();");
}

QString InjectedScripts::sessionWatcher(const QString &expectedOrigin)
{
    return QStringLiteral(
               "(function () {\n"
               "    var SESSION_KEY = 'vorlik_session';\n"
               "    var EXPECTED_ORIGIN = '")
        + expectedOrigin
        + QStringLiteral(
               "';\n"
               "    function current() {\n"
               "        try { return localStorage.getItem(SESSION_KEY); } catch (e) { return null; }\n"
               "    }\n"
               "    var last = current();\n"
               "    function notify() {\n"
               "        if (location.origin !== EXPECTED_ORIGIN) return;\n"
               "        var value = current();\n"
               "        if (value === last) return;\n"
               "        var previous = last;\n"
               "        last = value;\n"
               "        if (window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.vorlikSession) {\n"
               "            window.webkit.messageHandlers.vorlikSession.postMessage(\n"
               "                JSON.stringify({ v: value || '', p: previous || '' })\n"
               "            );\n"
               "        }\n"
               "    }\n"
               "    var origSet = Storage.prototype.setItem;\n"
               "    Storage.prototype.setItem = function (key, value) {\n"
               "        var result = origSet.apply(this, arguments);\n"
               "        if (key === SESSION_KEY) notify();\n"
               "        return result;\n"
               "    };\n"
               "    var origRemove = Storage.prototype.removeItem;\n"
               "    Storage.prototype.removeItem = function (key) {\n"
               "        var result = origRemove.apply(this, arguments);\n"
               "        if (key === SESSION_KEY) notify();\n"
               "        return result;\n"
               "    };\n"
               "    window.addEventListener('load', function () { notify(); });\n"
               "})();");
}

QString InjectedScripts::pushSession(const QString &payload)
{
    return QStringLiteral("try {\n"
                          "    var __vorlikSession = JSON.parse(JSON.stringify(")
        + payload
        + QStringLiteral("));\n"
                         "    localStorage.setItem('vorlik_session', JSON.stringify(__vorlikSession));\n"
                         "    window.dispatchEvent(new CustomEvent('vorlik:session-updated', { detail: __vorlikSession }));\n"
                         "} catch (e) {}");
}

QString InjectedScripts::removeSession()
{
    return QStringLiteral("try {\n"
                          "    localStorage.removeItem('vorlik_session');\n"
                          "    window.dispatchEvent(new CustomEvent('vorlik:session-updated', { detail: null }));\n"
                          "} catch (e) {}");
}

QString InjectedScripts::readSession()
{
    return QStringLiteral("localStorage.getItem('vorlik_session') || ''");
}

QString InjectedScripts::offerConnectKey(const QString &escapedKey)
{
    return QStringLiteral("(function () {\n"
                          "    var input = document.getElementById('apiKey');\n"
                          "    if (!input) return;\n"
                          "    input.value = '")
        + escapedKey
        + QStringLiteral("';\n"
                         "    var btn = document.getElementById('connect');\n"
                         "    if (btn) btn.click();\n"
                         "})();");
}

QString InjectedScripts::dragEntered()
{
    return QStringLiteral(
        "(function(){var a=document.querySelector('.file-input-area');if(a)a.classList.add('drag-over');"
        "var z=document.getElementById('dropZone');if(z)z.classList.add('drag-over');})();");
}

QString InjectedScripts::dragExited()
{
    return QStringLiteral(
        "(function(){var a=document.querySelector('.file-input-area');if(a)a.classList.remove('drag-over');"
        "var z=document.getElementById('dropZone');if(z)z.classList.remove('drag-over');})();");
}

QString InjectedScripts::dropTarget(double x, double y, const QString &fallbackZone)
{
    return QStringLiteral(
               "(function () {\n"
               "    var label = document.querySelector('label[for=\"files\"]');\n"
               "    if (label) {\n"
               "        var r = label.getBoundingClientRect();\n"
               "        return { id: 'correction', x: r.x + r.width / 2, y: r.y + r.height / 2 };\n"
               "    }\n"
               "    var z51 = document.getElementById('dropZone');\n"
               "    var zImm = document.getElementById('immDropZone');\n"
               "    if (z51 || zImm) {\n"
               "        var target = null;\n"
               "        var el = document.elementFromPoint(")
        + number(x) + QStringLiteral(", ") + number(y)
        + QStringLiteral(
               ");\n"
               "        if (el && el.closest) {\n"
               "            if (zImm && el.closest('#immDropZone')) target = zImm;\n"
               "            else if (z51 && el.closest('#dropZone')) target = z51;\n"
               "        }\n"
               "        if (!target) target = ")
        + fallbackZone
        + QStringLiteral(
               ";\n"
               "        if (!target) return null;\n"
               "        var r = target.getBoundingClientRect();\n"
               "        return { id: target.id, x: r.x + r.width / 2, y: r.y + r.height / 2 };\n"
               "    }\n"
               "    return null;\n"
               "})();");
}

QString InjectedScripts::panelConsumed()
{
    return QStringLiteral("(function () {\n"
                          "    var area = document.querySelector('.file-input-area');\n"
                          "    if (area) area.classList.remove('drag-over');\n"
                          "})();");
}

QString InjectedScripts::dropAreaCenter()
{
    return QStringLiteral("(function () {\n"
                          "    var el = document.querySelector('.file-input-area');\n"
                          "    if (!el) return null;\n"
                          "    var r = el.getBoundingClientRect();\n"
                          "    return { x: r.x + r.width / 2, y: r.y + r.height / 2 };\n"
                          "})();");
}

QString InjectedScripts::queueStatus()
{
    return QStringLiteral(
        "(function () {\n"
        "    var status = document.getElementById('status');\n"
        "    var rows = document.querySelectorAll('#queue tr').length;\n"
        "    var area = document.querySelector('.file-input-area');\n"
        "    var drop = 'no-drop';\n"
        "    if (area) {\n"
        "        var r = area.getBoundingClientRect();\n"
        "        drop = 'drop=' + Math.round(r.x + r.width / 2) + ',' + Math.round(r.y + r.height / 2);\n"
        "    }\n"
        "    return (status ? status.textContent : 'no-status') + ' | rows=' + rows + ' | ' + drop;\n"
        "})();");
}

QString InjectedScripts::chooserLabelCentre(const QString &request)
{
    const QString selector = request.contains(QStringLiteral("folder")) ? QStringLiteral("label[for=\"folder\"]")
                                                                         : QStringLiteral("label[for=\"files\"]");
    return QStringLiteral("(function () {\n"
                          "    var label = document.querySelector('")
        + selector
        + QStringLiteral("');\n"
                         "    if (!label) return null;\n"
                         "    var r = label.getBoundingClientRect();\n"
                         "    return { x: r.x + r.width / 2, y: r.y + r.height / 2 };\n"
                         "})();");
}

QString InjectedScripts::escapeForSingleQuotes(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return escaped;
}

QString InjectedScripts::number(double value)
{
    return QString::number(value, 'g', 15);
}

} // namespace vorlik::web
