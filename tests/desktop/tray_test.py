#!/usr/bin/python3
"""The program on a Linux desktop, without a screen: Xvfb, the private
session bus of dbus-run-session (run this under it), a stand-in status
notifier watcher (watcher.py), the local CA peer for the transport server
and its update packages. The dialogs are read and their buttons pressed
through the accessibility bus (AT-SPI); the address is typed with xdotool.

  dbus-run-session -- python3 tray_test.py PELLAMO CA_PEER UPDATE_PACKAGER

PELLAMO_DESKTOP_SCREENSHOTS=<folder> keeps screenshots of the settings
dialog and of the update question there.
"""
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

import dbus
import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi  # noqa: E402

PROGRAM, CA_PEER, PACKAGER = (os.path.abspath(a) for a in sys.argv[1:4])
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
TEST_KEY = os.path.join(ROOT, 'tools', 'update-packager', 'test-keys', 'TEST-ONLY-update-signing.key')
VERSION = 101276
ITEM = 'org.kde.StatusNotifierItem'
MENU = 'com.canonical.dbusmenu'
SHOTS = os.environ.get('PELLAMO_DESKTOP_SCREENSHOTS')

work = tempfile.mkdtemp(prefix='pellamo-desktop-')
children = []


def spawn(args, **kw):
    p = subprocess.Popen(args, **kw)
    children.append(p)
    return p


def wait_for(what, probe, seconds=20.0):
    deadline = time.time() + seconds
    while True:
        value = probe()
        if value:
            return value
        if time.time() > deadline:
            raise AssertionError(f'timed out waiting for {what}')
        time.sleep(0.1)


# ------------------------------------------------------------ the session

def start_display():
    read, write = os.pipe()
    spawn(['Xvfb', '-displayfd', str(write), '-screen', '0', '1024x768x24', '-nolisten', 'tcp'],
          pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    number = b''
    while not number.endswith(b'\n'):
        chunk = os.read(read, 16)
        if not chunk:
            raise AssertionError('Xvfb did not start')
        number += chunk
    os.close(read)
    os.environ['DISPLAY'] = ':' + number.decode().strip()
    os.environ['GDK_BACKEND'] = 'x11'


class Watcher:
    def __init__(self):
        self.proc = spawn(['/usr/bin/python3', os.path.join(os.path.dirname(__file__), 'watcher.py')],
                          stdout=subprocess.PIPE, text=True)
        assert self.proc.stdout.readline().strip() == 'ready'

    def next(self, seconds=20.0):
        """The watcher's next line, split; waits at most `seconds`."""
        ready, _, _ = select.select([self.proc.stdout], [], [], seconds)
        if not ready:
            raise AssertionError('the watcher reported nothing')
        return self.proc.stdout.readline().split()


def settings_file(host, port):
    h = host.encode('cp1251')
    return struct.pack('<4sII', b'\x1d\xf1\xde\xff', 106, len(h)) + h + struct.pack('<I', port)


def start_peer(packages):
    peer = spawn([CA_PEER, '--state', os.path.join(work, 'peer'), '--port', '0', '--packages', packages],
                 stdout=subprocess.PIPE, text=True)
    line = peer.stdout.readline()
    assert line.startswith('ca-peer listening on http://'), line
    # Drain its request log so that it never blocks on a full pipe.
    threading.Thread(target=lambda: peer.stdout.read(), daemon=True).start()
    return int(line.split('http://', 1)[1].split()[0].rsplit(':', 1)[1])


def publish(packages, version, files=None):
    """Makes `version` the latest of variant 4: a signed package of `files`."""
    shutil.rmtree(os.path.join(packages, '4'), ignore_errors=True)
    target = os.path.join(packages, '4', str(version))
    if files is None:
        os.makedirs(target)
        return
    os.makedirs(os.path.dirname(target))
    source = os.path.join(work, 'package-source')
    shutil.rmtree(source, ignore_errors=True)
    os.makedirs(source)
    for name, content in files.items():
        with open(os.path.join(source, name), 'w') as f:
            f.write(content)
    subprocess.run([PACKAGER, 'build', TEST_KEY, str(version), source, target], check=True)


def start_program(folder):
    env = dict(os.environ)
    env.pop('PELLAMO_DESKTOP', None)
    log = open(os.path.join(folder, 'stderr.log'), 'w')
    return spawn([PROGRAM], cwd=folder, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=log)


def screenshot(name):
    if SHOTS:
        os.makedirs(SHOTS, exist_ok=True)
        subprocess.run(['import', '-window', 'root', os.path.join(SHOTS, name)], check=False)


# --------------------------------------------------- the item on the bus

class Item:
    def __init__(self, bus, name, path):
        self.name = name
        self.obj = bus.get_object(name, path)
        props = dbus.Interface(self.obj, dbus.PROPERTIES_IFACE)
        self.props = {k: props.Get(ITEM, k) for k in ('Id', 'Title', 'Status', 'IconName', 'Menu')}
        self.menu = dbus.Interface(bus.get_object(name, self.props['Menu']), MENU)

    def entries(self):
        _, (_, _, children) = self.menu.GetLayout(0, -1, ['label', 'visible'])
        return [(int(c[0]), str(c[1].get('label', ''))) for c in children if c[1].get('visible', True)]

    def choose(self, label):
        for ident, text in self.entries():
            if text == label:
                self.menu.Event(ident, 'clicked', dbus.String('', variant_level=1), dbus.UInt32(0))
                return
        raise AssertionError(f'no menu item {label!r}')


# --------------------------------------------------------- the windows

def applications(pid=None):
    desktop = Atspi.get_desktop(0)
    desktop.clear_cache()
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == 'pellamo' and (pid is None or app.get_process_id() == pid):
            yield app


def window(title, pid=None):
    def probe():
        for app in applications(pid):
            for j in range(app.get_child_count()):
                w = app.get_child_at_index(j)
                if w is not None and w.get_name() == title and w.get_state_set().contains(Atspi.StateType.SHOWING):
                    return w
        return None
    return probe


def no_window(title, pid=None):
    return lambda: window(title, pid)() is None


def contents(node, out=None):
    """The texts of a window: labels' names, text fields' texts, buttons."""
    out = out if out is not None else {'labels': [], 'fields': [], 'buttons': {}}
    role = node.get_role()
    if role == Atspi.Role.LABEL:
        out['labels'].append(node.get_name())
    elif role in (Atspi.Role.TEXT, Atspi.Role.ENTRY):
        out['fields'].append(Atspi.Text.get_text(node, 0, -1))
    elif role == Atspi.Role.PUSH_BUTTON:
        out['buttons'][node.get_name()] = node
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            contents(child, out)
    return out


def press(win, button):
    buttons = contents(win)['buttons']
    assert button in buttons, f'no button {button!r} in {list(buttons)}'
    Atspi.Action.do_action(buttons[button], 0)


def xdotool(*args):
    subprocess.run(['xdotool', *args], check=True)


def read_file(path):
    with open(path, 'rb') as f:
        return f.read()


# ------------------------------------------------------------ the cases

def exits(proc, seconds=15.0):
    try:
        return proc.wait(seconds)
    except subprocess.TimeoutExpired:
        raise AssertionError('the program did not end')


def case_tray_and_settings(bus, watcher, packages, port):
    publish(packages, VERSION)  # up to date: no question at start
    folder = os.path.join(work, 'tray')
    os.makedirs(os.path.join(folder, 'data'))
    settings = os.path.join(folder, 'data', 'settings.dat')
    with open(settings, 'wb') as f:
        f.write(settings_file('127.0.0.1', port))
    proc = start_program(folder)

    event, name, path = watcher.next()
    assert event == 'registered', event
    item = Item(bus, name, path)
    assert item.props['Id'] == 'pellamo' and item.props['Title'] == 'Pellamo', item.props
    assert item.props['Status'] == 'Active' and item.props['IconName'] == 'pellamo', item.props
    # The toolkit writes the mnemonic of "&Выход" as "_Выход".
    assert [label for _, label in item.entries()] == ['Настройки', '_Выход'], item.entries()

    # Cancel: a new address typed in changes nothing.
    before = read_file(settings)
    item.choose('Настройки')
    dialog = wait_for('the settings dialog', window('Plugin Pellamo', proc.pid))
    seen = contents(dialog)
    assert 'Версия плагина:' in seen['labels'] and '1.01.276' in seen['labels'], seen['labels']
    assert 'Транспортный сервер :' in seen['labels'], seen['labels']
    assert any('Плагин для работы с личным кабинетом' in label for label in seen['labels']), seen['labels']
    assert seen['fields'] == [f'127.0.0.1:{port}'], seen['fields']
    assert set(seen['buttons']) == {'OK', 'Отмена'}, list(seen['buttons'])
    screenshot('settings-dialog.png')
    xdotool('key', '--clearmodifiers', 'ctrl+a')
    xdotool('type', '--delay', '20', '127.0.0.2:9444')
    press(dialog, 'Отмена')
    wait_for('the dialog to close', no_window('Plugin Pellamo', proc.pid))
    assert read_file(settings) == before

    # Only one dialog at a time, however often the item is chosen.
    item.choose('Настройки')
    item.choose('Настройки')
    dialog = wait_for('the settings dialog', window('Plugin Pellamo', proc.pid))
    time.sleep(0.5)
    titles = [a.get_child_at_index(j).get_name() for a in applications(proc.pid) for j in range(a.get_child_count())]
    assert titles.count('Plugin Pellamo') == 1, titles
    # OK: the typed address is applied and saved.
    assert contents(dialog)['fields'] == [f'127.0.0.1:{port}']
    xdotool('key', '--clearmodifiers', 'ctrl+a')
    xdotool('type', '--delay', '20', 'localhost:9444')
    xdotool('key', 'Return')
    wait_for('the dialog to close', no_window('Plugin Pellamo', proc.pid))
    wait_for('settings.dat rewritten', lambda: read_file(settings) == settings_file('localhost', 9444), 5)

    # The dialog shows the address now in force; a text without ":" keeps it
    # and OK still writes the file, as on Windows.
    os.utime(settings, (0, 0))
    item.choose('Настройки')
    dialog = wait_for('the settings dialog', window('Plugin Pellamo', proc.pid))
    assert contents(dialog)['fields'] == ['localhost:9444']
    xdotool('key', '--clearmodifiers', 'ctrl+a')
    xdotool('type', '--delay', '20', 'nocolon')
    press(dialog, 'OK')
    wait_for('settings.dat written again', lambda: os.stat(settings).st_mtime > 0, 5)
    assert read_file(settings) == settings_file('localhost', 9444)

    item.choose('_Выход')
    assert exits(proc) == 0
    assert watcher.next() == ['gone', name]


def case_update(bus, watcher, packages, port, accept):
    publish(packages, VERSION + 1, {'notes.txt': 'new notes\n'})
    folder = os.path.join(work, 'update-yes' if accept else 'update-no')
    os.makedirs(os.path.join(folder, 'data'))
    with open(os.path.join(folder, 'data', 'settings.dat'), 'wb') as f:
        f.write(settings_file('127.0.0.1', port))
    with open(os.path.join(folder, 'notes.txt'), 'w') as f:
        f.write('old notes\n')
    proc = start_program(folder)

    question = wait_for('the update question', window('Pellamo Plugin', proc.pid))
    seen = contents(question)
    assert 'Доступно обновление. Обновить программу?' in seen['labels'], seen['labels']
    assert set(seen['buttons']) == {'Да', 'Нет'}, list(seen['buttons'])
    if not accept:
        press(question, 'Нет')
        event, name, _ = watcher.next()
        assert event == 'registered'
        assert read_file(os.path.join(folder, 'notes.txt')) == b'old notes\n'
        proc.send_signal(signal.SIGTERM)
        assert exits(proc) == 0
        assert watcher.next() == ['gone', name]
        return

    screenshot('update-question.png')
    press(question, 'Да')
    info = wait_for('the restart notice', window('Pellamo Plugin', proc.pid))
    assert 'Обновление загружено. Требуется перезапуск программы' in contents(info)['labels']
    assert read_file(os.path.join(folder, 'notes.txt')) == b'new notes\n'
    assert read_file(os.path.join(folder, 'data', 'backup', 'notes.txt')) == b'old notes\n'
    # The new instance finds itself up to date.
    publish(packages, VERSION)
    press(info, 'OK')
    assert exits(proc) == 0
    # The old instance never showed its icon; the new one does.
    event, name, path = watcher.next()
    assert event == 'registered'
    successor = Item(bus, name, path)
    successor.choose('_Выход')
    assert watcher.next() == ['gone', name]


def main():
    start_display()
    bus = dbus.SessionBus()
    watcher = Watcher()
    packages = os.path.join(work, 'packages')
    port = start_peer(packages)
    cases = [('tray icon, menu and settings dialog', lambda: case_tray_and_settings(bus, watcher, packages, port)),
             ('update offer answered No', lambda: case_update(bus, watcher, packages, port, False)),
             ('update offer answered Yes', lambda: case_update(bus, watcher, packages, port, True))]
    passed = failed = 0
    for title, run in cases:
        started = time.time()
        try:
            run()
            passed += 1
            print(f'ok   {title} ({time.time() - started:.1f} s)', flush=True)
        except Exception as e:  # noqa: BLE001 - report and go on
            failed += 1
            print(f'FAIL {title}: {e!r}', flush=True)
            for log in ('tray', 'update-no', 'update-yes'):
                path = os.path.join(work, log, 'stderr.log')
                if os.path.exists(path):
                    print(f'--- {log} stderr:\n' + open(path).read(), flush=True)
            break
    print(f'{passed} passed, {failed} failed', flush=True)
    return 1 if failed else 0


if __name__ == '__main__':
    try:
        code = main()
    except Exception:
        code = 1
        raise
    finally:
        for p in reversed(children):
            if p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(work, ignore_errors=True)
    sys.exit(code)
