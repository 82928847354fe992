// The stand-in pages' behaviour: sign-in kept in local storage under "vorlik_session", the
// "vorlik:session-updated" event, the file chooser and drop zones, the inject functions the
// application calls, and a list of every file that arrived (name, size, SHA-256 computed here).
(function () {
    'use strict';
    var SESSION_KEY = 'vorlik_session';
    var FULL_HASH_LIMIT = 32 * 1024 * 1024;
    var SAMPLE_BYTES = 1024 * 1024;

    // What the page saw, for tests and for a developer's console.
    var state = { page: document.body.dataset.page || '', sessionEvents: [], files: [] };
    window.vorlikPage = state;

    function byId(id) { return document.getElementById(id); }
    function setStatus(text) { var s = byId('status'); if (s) s.textContent = text; }

    // ---- sign-in ----
    function readRecord() {
        try {
            var text = localStorage.getItem(SESSION_KEY);
            return text ? JSON.parse(text) : null;
        } catch (e) { return null; }
    }
    function showSession(record) {
        var signedIn = !!(record && (record.access_token || record.refresh_token));
        var who = byId('signedInAs');
        if (who) who.textContent = signedIn ? 'Signed in as ' + (record.client_id || '?') : 'Not signed in';
        var form = byId('connectForm');
        if (form) form.hidden = signedIn;
        var out = byId('signOut');
        if (out) out.hidden = !signedIn;
    }
    function connect() {
        var input = byId('apiKey');
        var key = input ? input.value : '';
        state.lastConnectKey = key;
        setStatus('Connecting…');
        fetch('/v1/auth/activate', {
            method: 'POST',
            headers: { 'Content-Type': 'application/json' },
            body: JSON.stringify({ api_key: key, installation_label: 'Vorlik web page' })
        }).then(function (response) {
            return response.json().catch(function () { return {}; }).then(function (body) {
                if (!response.ok) {
                    setStatus('✗ Sign in failed (' + response.status + ')');
                    return;
                }
                var record = {
                    access_token: body.access_token,
                    refresh_token: body.refresh_token,
                    installation_id: body.installation_id,
                    client_id: body.client_id
                };
                localStorage.setItem(SESSION_KEY, JSON.stringify(record));
                showSession(record);
                setStatus('✓ Signed in');
            });
        }).catch(function (error) { setStatus('✗ ' + error); });
    }
    function signOut() {
        localStorage.removeItem(SESSION_KEY);
        showSession(null);
        setStatus('Signed out');
    }
    window.addEventListener('vorlik:session-updated', function (event) {
        state.sessionEvents.push(event.detail === null ? null : event.detail);
        showSession(event.detail);
    });
    var connectButton = byId('connect');
    if (connectButton) connectButton.addEventListener('click', connect);
    var signOutButton = byId('signOut');
    if (signOutButton) signOutButton.addEventListener('click', signOut);
    showSession(readRecord());

    // ---- files ----
    function hex(buffer) {
        return Array.prototype.map.call(new Uint8Array(buffer), function (b) {
            return ('0' + b.toString(16)).slice(-2);
        }).join('');
    }
    // Small files are hashed whole; a large one by its first and last MiB, so that a file of
    // hundreds of megabytes is never read in full.
    function digest(file) {
        if (file.size <= FULL_HASH_LIMIT)
            return file.arrayBuffer().then(function (bytes) { return crypto.subtle.digest('SHA-256', bytes); })
                .then(function (d) { return { kind: 'sha256', value: hex(d) }; });
        var head = file.slice(0, SAMPLE_BYTES), tail = file.slice(file.size - SAMPLE_BYTES);
        return new Blob([head, tail]).arrayBuffer()
            .then(function (bytes) { return crypto.subtle.digest('SHA-256', bytes); })
            .then(function (d) { return { kind: 'sample-sha256', value: hex(d) }; });
    }
    function addFile(file, via) {
        var entry = { name: file.name, size: file.size, type: file.type, via: via, hashKind: '', sha256: '', arrivedAt: performance.now() };
        state.files.push(entry);
        var table = byId('queue');
        if (table) {
            var row = table.insertRow(-1);
            [file.name, String(file.size) + ' bytes', file.type || '—', via, '…'].forEach(function (text, i) {
                var cell = row.insertCell(-1);
                cell.textContent = text;
                if (i === 4) cell.className = 'hash';
            });
            entry.row = row;
        }
        setStatus(state.files.length + ' file(s) received');
        return digest(file).then(function (d) {
            entry.hashKind = d.kind;
            entry.sha256 = d.value;
            if (entry.row) entry.row.cells[4].textContent = d.kind + ' ' + d.value;
        }, function (error) {
            entry.hashKind = 'error';
            entry.sha256 = String(error);
        });
    }
    function decode(record) {
        var binary = atob(record.data || '');
        var bytes = new Uint8Array(binary.length);
        for (var i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
        return new File([bytes], record.name || 'file', { type: record.type || '' });
    }
    function addChosen(input, via) {
        input.addEventListener('change', function () {
            Array.prototype.forEach.call(input.files, function (file) { addFile(file, via); });
            input.value = '';
        });
    }

    window.vorlikInjectFiles = function (list) {
        (list || []).forEach(function (record) { addFile(decode(record), 'vorlikInjectFiles'); });
    };
    window.vorlikInjectFile = function (record) { addFile(decode(record), 'vorlikInjectFile'); };
    window.vorlikInjectImmersiveFile = function (record) { addFile(decode(record), 'vorlikInjectImmersiveFile'); };

    var files = byId('files');
    if (files) addChosen(files, 'chooser');
    [['dropZone', 'dropZoneInput'], ['immDropZone', 'immDropZoneInput']].forEach(function (pair) {
        var zone = byId(pair[0]), input = byId(pair[1]);
        if (!zone || !input) return;
        zone.addEventListener('click', function () { input.click(); });
        addChosen(input, pair[0] + '-chooser');
    });
})();
