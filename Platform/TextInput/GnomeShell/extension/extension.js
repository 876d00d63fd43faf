/* Tesvano's window onto the shell's input sources.
 *
 * GNOME Shell owns the keyboard layout: it keeps the X server's layout group in line with its
 * own current input source and puts it back whenever another program changes it. This
 * extension lets Tesvano go through the shell instead, on the session bus:
 *
 *   name      com.quorvel.Tesvano.ShellInputSources
 *   object    /com/quorvel/Tesvano/ShellInputSources
 *   GetSources() -> a(ssss)   type ("xkb" or "ibus"), id, display name, short name; in the
 *                             shell's order
 *   GetCurrent() -> (ss)      type and id of the current source; empty strings when none
 *   Activate(type, id) -> b   makes that source current, as the user's latest choice (the
 *                             shell's recently used list starts with it); false when the
 *                             shell has no such source
 *   CurrentSourceChanged(ss)  the current source changed, by anyone: sent once the shell's
 *                             current work is done, with the source current then, even when
 *                             that is the one the last signal named (it changed and changed
 *                             back meanwhile)
 *   SourcesChanged()          the list of sources changed
 *
 * The name is claimed without queueing or replacement: a program that holds it already keeps
 * it, and Tesvano, which talks only to the owner of org.gnome.Shell, then finds no extension.
 */
'use strict';

const { Gio, GLib } = imports.gi;
const ExtensionUtils = imports.misc.extensionUtils;
const Keyboard = imports.ui.status.keyboard;

const BUS_NAME = 'com.quorvel.Tesvano.ShellInputSources';
const OBJECT_PATH = '/com/quorvel/Tesvano/ShellInputSources';
// The interface, as com.quorvel.Tesvano.ShellInputSources.xml beside this file describes it:
// that file is the one Tesvano's own tests read to check the calls it makes.
const INTERFACE_XML = new TextDecoder().decode(ExtensionUtils.getCurrentExtension().dir
    .get_child('com.quorvel.Tesvano.ShellInputSources.xml').load_contents(null)[1]);

class ShellInputSources {
    constructor(manager) {
        this._manager = manager;
    }

    _sourcesInOrder() {
        const all = this._manager.inputSources;
        return Object.keys(all).sort((a, b) => a - b).map(index => all[index]);
    }

    GetSources() {
        return this._sourcesInOrder().map(
            source => [source.type, source.id, source.displayName || '', source.shortName || '']);
    }

    GetCurrent() {
        const current = this._manager.currentSource;
        return current ? [current.type, current.id] : ['', ''];
    }

    Activate(type, id) {
        const source = this._sourcesInOrder().find(s => s.type === type && s.id === id);
        if (!source)
            return false;
        // As the user's choice: the shell keeps it first in its recently used list and starts
        // on it after a restart.
        if (source !== this._manager.currentSource)
            source.activate(true);
        return true;
    }
}

class Extension {
    enable() {
        const manager = Keyboard.getInputSourceManager();
        this._impl = new ShellInputSources(manager);
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE_XML, this._impl);
        this._object.export(Gio.DBus.session, OBJECT_PATH);
        // The shell repeats the change for property updates of an input method; those are
        // not changes. A real change is counted, and said once the shell's current work is
        // done: a source restored for a newly focused window changes before the window
        // manager announces that window as active, and listeners that ask which window is
        // active should hear of the change only after it has been announced. Before the next
        // frame is drawn, though: drawing in software takes tens of milliseconds. Two changes
        // in that time that end where they began are still said: a listener that switched in
        // between must learn that its switch did not last.
        this._seenCurrent = manager.currentSource;
        this._changes = 0;
        this._announcedChanges = 0;
        this._pendingCurrent = 0;
        this._currentChanged = manager.connect('current-source-changed', () => {
            if (manager.currentSource !== this._seenCurrent) {
                this._seenCurrent = manager.currentSource;
                this._changes++;
            }
            if (this._pendingCurrent)
                return;
            this._pendingCurrent = GLib.idle_add(GLib.PRIORITY_HIGH_IDLE, () => {
                this._pendingCurrent = 0;
                this._announceCurrent();
                return GLib.SOURCE_REMOVE;
            });
        });
        this._sourcesChanged = manager.connect('sources-changed', () => {
            this._object.emit_signal('SourcesChanged', null);
        });
        this._lastCurrent = this._impl.GetCurrent().join('\n');
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.DO_NOT_QUEUE, null, () => {
                log(`Tesvano: ${BUS_NAME} is held by another program; Tesvano will not use it`);
            });
    }

    _announceCurrent() {
        const current = this._impl.GetCurrent();
        const key = current.join('\n');
        if (key === this._lastCurrent && this._changes === this._announcedChanges)
            return;
        this._lastCurrent = key;
        this._announcedChanges = this._changes;
        this._object.emit_signal('CurrentSourceChanged', new GLib.Variant('((ss))', [current]));
    }

    disable() {
        const manager = Keyboard.getInputSourceManager();
        if (this._pendingCurrent) {
            GLib.source_remove(this._pendingCurrent);
            this._pendingCurrent = 0;
        }
        Gio.bus_unown_name(this._nameId);
        manager.disconnect(this._currentChanged);
        manager.disconnect(this._sourcesChanged);
        this._object.unexport();
        this._object = null;
        this._impl = null;
    }
}

function init() {
    return new Extension();
}
