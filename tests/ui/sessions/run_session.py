#!/usr/bin/python3
"""Runs one session script against the built window program, started as a person
starts it: its own process on a virtual X display of its own (with a window manager
when the script asks for one), driven from outside by a real pointer and keyboard.

The steps are those of the shared driver (drive.py, found by --drive) plus:
  sh CMD...                 run a shell command in the output folder (fails on non-zero);
                            $SRC, $OUT and $CLI are the source tree, the output folder and
                            the command-line program
  let NAME CMD...           the same, keeping what it prints as $NAME for later steps
  wait-label TEXT [S]       wait until a visible control's name or text contains TEXT
  expect-label TEXT         fail unless a visible control's name or text contains TEXT
  wait-text NAME VALUE [S]  wait until the control NAME shows VALUE
  wait-enabled NAME [S]     wait until the control NAME is enabled
  expect-disabled NAME      fail unless the control NAME is disabled
  expect-focus NAME         fail unless the control NAME has the keyboard focus
  click-at X Y              a click at a place ('in' percentages work)
  let-label NAME REGEX      keep the first group of REGEX in a visible control's text as $NAME
  expect-no-label TEXT      fail if a visible control's name or text contains TEXT
  maximize TITLE            maximise that window by the window manager's key (openbox-rc.xml;
                            without a window manager: size it to the screen)
  close-box TITLE           close that window as its close box does: the window manager's close
                            request (Alt+F4); without a window manager, which draws no close
                            box, Escape
  fits TITLE W H            fail unless that window lies wholly within W x H pixels
  shot-window TITLE FILE    a screenshot of that window alone (with its frame) into OUTDIR/FILE
  expect-running            fail if the program has ended
  wait-exit CODE [S]        wait until the program ends, and fail unless with CODE
  kill-program              end the program at once with SIGKILL, as a crash or a power cut does
  restart                   start the program again as at first (same arguments, environment and
                            display) and wait for its window
The program's cache (XDG_CACHE_HOME, where it keeps an unsaved result for recovery) is OUTDIR/cache,
so no session sees what another left.
$SRC, $OUT and $CLI are replaced in every step. Script lines '#! screen WxHxD', '#! wm NAME',
'#! env NAME=VALUE', '#! arg WORD' and '#! sh CMD' (run before the program starts) set up the display, its window manager, the program's
environment and its arguments; --wm runs a script with a window manager it does not name.
"""
import argparse, importlib.util, os, re, shlex, shutil, signal, subprocess, sys, tempfile, time


def load_drive(path):
    spec = importlib.util.spec_from_file_location('drive', path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def start_server(geometry):
    # The server picks a free display number itself and tells it on a pipe: choosing one
    # from the lock files raced when two sessions started at once, and the second session's
    # accessibility bus then replaced the first's on the shared display. Without -noreset the
    # server starts over when its last client leaves (the bus launcher, after setting its
    # property), and a program connecting just then is turned away.
    read_end, write_end = os.pipe()
    server = subprocess.Popen(['Xvfb', '-displayfd', str(write_end), '-noreset', '-screen', '0', geometry,
                               '-nolisten', 'tcp'], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(write_end)
    with os.fdopen(read_end) as answer:
        number = answer.readline().strip()
    if not number.isdigit():
        server.kill()
        sys.exit('run_session: the X server did not start')
    return server, f':{number}'


def make_session_class(drive):
    class Session(drive.Session):
        def __init__(self, program, out, geometry, args, wm, extra_env, started):
            # What drive.Session sets up, with a display of our own, a window manager
            # between the server and the program, and waits on the server, not sleeps.
            server, display = started
            self.out = os.path.abspath(out)
            os.makedirs(self.out, exist_ok=True)
            self.env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM='xcb', QT_ACCESSIBILITY='1',
                            QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1', NO_AT_BRIDGE='0')
            self.env.pop('QT_SCALE_FACTOR', None)
            # Without a runtime folder of its own the accessibility bus puts its socket under
            # ~/.cache/at-spi, named by display number: a session on a number another has just
            # given back could meet that session's socket and bus.
            self.runtime = tempfile.mkdtemp(prefix='ruvanta-session-')
            self.env['XDG_RUNTIME_DIR'] = self.runtime
            self.procs, self.area, self.bus_pid, self.wm = [], None, None, wm
            self.procs.append(server)
            if wm:
                config = os.path.join(os.path.dirname(os.path.abspath(__file__)), f'{wm}-rc.xml')
                command = [wm, '--config-file', config] if os.path.exists(config) else [wm]
                self.procs.append(subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL,
                                                   stderr=subprocess.DEVNULL, start_new_session=True))
            # The session bus is a child of ours, so that ending it can never signal a process
            # that took over its number (dbus-launch's daemon is not ours to wait for).
            bus = subprocess.Popen(['dbus-daemon', '--session', '--nofork', '--print-address=1'],
                                   env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   text=True, start_new_session=True)
            self.procs.append(bus)
            self.env['DBUS_SESSION_BUS_ADDRESS'] = bus.stdout.readline().strip()
            os.environ.update({k: self.env[k] for k in ('DBUS_SESSION_BUS_ADDRESS', 'DISPLAY')})
            launcher = next((p for p in ('/usr/libexec/at-spi-bus-launcher',
                                         '/usr/lib/at-spi2-core/at-spi-bus-launcher') if os.path.exists(p)), None)
            if launcher:
                self.procs.append(subprocess.Popen([launcher, '--launch-immediately'], env=self.env,
                                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                                   start_new_session=True))
            # The program joins the accessibility bus when it starts: the bus must be up.
            self.wait_for(lambda: subprocess.run(
                ['dbus-send', '--session', '--dest=org.a11y.Bus', '--print-reply', '/org/a11y/bus',
                 'org.a11y.Bus.GetAddress'], env=self.env, capture_output=True).returncode == 0,
                20, 'the accessibility bus')
            import pyatspi
            self.at = pyatspi
            self.server, self.display = server, display
            self.program, self.args = os.path.abspath(program), list(args)
            self.program_env = {**self.env, 'XDG_CACHE_HOME': os.path.join(self.out, 'cache'), **extra_env}
            self.name = os.path.basename(program)
            self.starts = 0
            self.start_program()

        def start_program(self):
            self.starts += 1
            log = 'program.log' if self.starts == 1 else f'program-{self.starts}.log'
            self.app = subprocess.Popen([self.program, *self.args], cwd=self.out, env=self.program_env,
                                        stdout=open(os.path.join(self.out, log), 'w'),
                                        stderr=subprocess.STDOUT, start_new_session=True)
            self.procs.append(self.app)
            if self.server.poll() is not None:
                drive.die(f'the X server on {self.display} has ended')
            try:
                self.wait_for(lambda: any(c['role'] == 'push button' for c in self.controls()), 60,
                              f'an accessible window of {self.name}')
            except SystemExit:
                if self.server.poll() is not None:
                    sys.stderr.write(f'the X server on {self.display} ended with {self.server.returncode}\n')
                self.close()
                log = os.path.join(self.out, log)
                if os.path.exists(log):
                    with open(log, errors='replace') as f:
                        sys.stderr.write('program.log:\n' + f.read()[-2000:])
                raise

        def close(self):
            # Only children not yet waited for are signalled: a number once waited for may
            # already belong to another session's X server.
            for p in reversed(self.procs):
                for sig in (signal.SIGTERM, signal.SIGKILL):
                    if p.poll() is not None:
                        break
                    try:
                        os.killpg(p.pid, sig)
                        p.wait(3)
                        break
                    except (OSError, subprocess.TimeoutExpired):
                        continue
            shutil.rmtree(self.runtime, ignore_errors=True)

        def wait_for(self, test, limit, what):
            deadline = time.time() + limit
            while True:
                if test():
                    return
                if time.time() > deadline:
                    drive.die(f'waited {limit} s for {what}')
                time.sleep(0.2)

        def shows(self, text):
            return any(c['showing'] and ((c['name'] and text in c['name']) or (c['text'] and text in c['text']))
                       for c in self.controls())

        def lookup(self, name):
            # An edit before the label that names it ("Ruvanta"), then the innermost.
            hits = [c for c in self.controls() if c['name'] == name and c['showing']]
            edits = [c for c in hits if c['role'] == 'text']
            return (edits or hits or [None])[-1]

        def step(self, words):
            cmd = words[0]
            if cmd not in ('sh', 'let'):
                names = '|'.join(sorted(self.vars, key=len, reverse=True))
                words = [re.sub(r'\$(' + names + r')\b', lambda m: self.vars[m.group(1)], w) for w in words]
            cmd, args = words[0], words[1:]
            limit = lambda i: float(args[i]) if len(args) > i else 60.0
            if cmd == 'let':
                r = subprocess.run(' '.join(args[1:]), shell=True, cwd=self.out, capture_output=True,
                                   text=True, env=dict(os.environ, **self.vars))
                if r.returncode or not r.stdout.strip():
                    drive.die(f'let {args[0]}: {" ".join(args[1:])!r} exited with {r.returncode}, '
                              f'printing {r.stdout.strip()!r} {r.stderr.strip()!r}')
                self.vars[args[0]] = r.stdout.strip()
            elif cmd == 'sh':
                r = subprocess.run(' '.join(args), shell=True, cwd=self.out, env=dict(os.environ, **self.vars))
                if r.returncode:
                    drive.die(f'sh {" ".join(args)!r} exited with {r.returncode}')
            elif cmd == 'wait-label':
                self.wait_for(lambda: self.shows(args[0]), limit(1), f'a control showing {args[0]!r}; '
                              f'labels: {[c["name"] for c in self.controls() if c["role"] == "label" and c["name"]]}')
            elif cmd == 'expect-label':
                if not self.shows(args[0]):
                    drive.die(f'nothing shows {args[0]!r}; labels: '
                              f'{[c["name"] for c in self.controls() if c["role"] == "label" and c["name"]]}')
            elif cmd == 'wait-text':
                self.wait_for(lambda: (self.lookup(args[0]) or {}).get('text') == args[1], limit(2),
                              f'{args[0]!r} to show {args[1]!r} (it shows '
                              f'{(self.lookup(args[0]) or {}).get("text")!r})')
            elif cmd == 'wait-enabled':
                self.wait_for(lambda: (self.lookup(args[0]) or {}).get('enabled'), limit(1),
                              f'{args[0]!r} to be enabled')
            elif cmd == 'expect-disabled':
                c = self.lookup(args[0])
                if not c or c['enabled']:
                    drive.die(f'{args[0]!r} is not a disabled control')
            elif cmd == 'expect-focus':
                focused = [n for n in self.focused() if n]
                if args[0] not in focused:
                    drive.die(f'the focus is on {focused!r}, not on {args[0]!r}')
            elif cmd == 'click-at':
                self.x('mousemove', *self.pos(*args[:2]), check=True)
                self.x('click', '1', check=True)
                time.sleep(0.3)
            elif cmd == 'let-label':
                texts = [t for c in self.controls() if c['showing'] for t in (c['name'], c['text']) if t]
                hit = next((m for m in (re.search(args[1], t) for t in texts) if m), None)
                if not hit:
                    drive.die(f'no visible text matches {args[1]!r}')
                self.vars[args[0]] = hit.group(1)
            elif cmd == 'expect-no-label':
                if self.shows(args[0]):
                    drive.die(f'a control shows {args[0]!r}')
            elif cmd == 'close-box':
                wid = next(i for i, n in self.windows() if args[0] in n)
                self.x('windowactivate', '--sync', wid) if self.wm else None
                self.x('key', 'alt+F4' if self.wm else 'Escape', check=True)
            elif cmd == 'maximize' and not self.wm:
                wid = next(i for i, n in self.windows() if args[0] in n)
                width, height = self.x('getdisplaygeometry').split()
                self.x('windowmove', wid, '0', '0', check=True)
                self.x('windowsize', wid, width, height, check=True)
                self.wait_for(lambda: self.window_area(args[0])[2] == int(width), 20, f'{args[0]!r} to grow')
            elif cmd == 'maximize':
                x, y, w, h = self.window_area(args[0])
                wid = next(i for i, n in self.windows() if args[0] in n)
                self.x('windowactivate', '--sync', wid)
                self.x('key', 'super+Up', check=True)
                self.wait_for(lambda: self.window_area(args[0])[2] > w, 20, f'{args[0]!r} to grow')
                seen = []  # until two readings in a row agree: the window has its new size
                self.wait_for(lambda: seen.append(self.window_area(args[0])) or
                              (len(seen) > 1 and seen[-1] == seen[-2]), 20, f'{args[0]!r} to settle')
            elif cmd == 'fits':
                x, y, w, h = self.window_area(args[0])
                if x < 0 or y < 0 or x + w > int(args[1]) or y + h > int(args[2]):
                    drive.die(f'{args[0]!r} is at {x},{y} and {w} x {h}: it does not fit {args[1]} x {args[2]}')
            elif cmd == 'shot-window':
                x, y, w, h = self.window_area(args[0])
                top = 40 if self.wm else 0
                side = 4 if self.wm else 0
                x0, y0 = max(x - side, 0), max(y - top, 0)
                path = os.path.join(self.out, args[1])
                subprocess.run(['import', '-window', 'root', '-crop',
                                f'{w + 2 * side}x{h + top + side}+{x0}+{y0}', '+repage', path],
                               env=self.env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            elif cmd == 'expect-running':
                if self.app.poll() is not None:
                    drive.die(f'the program has ended (exit code {self.app.returncode})')
            elif cmd == 'kill-program':
                if self.app.poll() is not None:
                    drive.die(f'the program has ended already (exit code {self.app.returncode})')
                self.app.send_signal(signal.SIGKILL)
                self.app.wait(30)
                # Until the accessibility registry has let the killed program go.
                self.wait_for(lambda: not any(c['role'] == 'push button' for c in self.controls()), 30,
                              f'the killed {self.name} to leave the screen')
            elif cmd == 'restart':
                if self.app.poll() is None:
                    drive.die('the program is still running')
                self.start_program()
            elif cmd == 'wait-exit':
                try:
                    code = self.app.wait(limit(1))
                except subprocess.TimeoutExpired:
                    drive.die(f'the program is still running after {limit(1)} s')
                if code != int(args[0]):
                    drive.die(f'the program ended with exit code {code}, not {args[0]}')
            else:
                super().step(words)

        def focused(self):
            names = []
            desk = self.at.Registry.getDesktop(0)

            def walk(node, depth):
                if node is None or depth > 40:
                    return
                try:
                    if node.getState().contains(self.at.STATE_FOCUSED):
                        names.append(node.name or '')
                    for i in range(node.childCount):
                        walk(node.getChildAtIndex(i), depth + 1)
                except Exception:
                    return
            for app in desk:
                try:
                    if app is not None and app.name == self.name:
                        walk(app, 0)
                except Exception:
                    continue
            return names

    return Session


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--drive', required=True, help='the shared driver, drive.py')
    ap.add_argument('--program', required=True)
    ap.add_argument('--cli', required=True)
    ap.add_argument('--source', required=True)
    ap.add_argument('--out', required=True)
    ap.add_argument('--arg', action='append', default=[])
    ap.add_argument('--wm', help='a window manager to run the session under')
    ap.add_argument('script')
    a = ap.parse_args()
    if not os.path.exists(a.drive):
        sys.exit(f'run_session: the driver {a.drive} is missing (it comes with the shared tools beside '
                 f'the repository; configure with -DRUVANTA_DRIVE=PATH to name another)')
    drive = load_drive(a.drive)
    lines = open(a.script).read().splitlines()
    geometry, wm, env, args = '1600x1200x24', a.wm, {}, list(a.arg)
    for line in lines:
        m = re.match(r'#!\s*(screen|wm|env|arg)\s+(\S+)', line)
        if m and m.group(1) == 'arg':
            args.append(m.group(2).replace('$SRC', os.path.abspath(a.source)))
        if m and m.group(1) == 'screen':
            geometry = m.group(2)
        elif m and m.group(1) == 'wm':
            wm = m.group(2)
        elif m and m.group(1) == 'env':
            k, v = m.group(2).split('=', 1)
            env[k] = v
    out = os.path.abspath(a.out)
    subprocess.run(['rm', '-rf', out])
    os.makedirs(out)
    variables = {'SRC': os.path.abspath(a.source), 'OUT': out, 'CLI': os.path.abspath(a.cli)}
    for line in lines:
        if line.startswith('#! sh '):
            if subprocess.run(line[6:], shell=True, cwd=out, env=dict(os.environ, **variables)).returncode:
                sys.exit(f'run_session: {line!r} failed')
    Session = make_session_class(drive)
    started = time.time()
    s = Session(a.program, out, geometry, args, wm, env, start_server(geometry))
    s.vars = variables
    try:
        for n, line in enumerate(lines, 1):
            stripped = line.strip()
            if stripped.startswith('type '):
                words = ['type', stripped[5:]]
            elif stripped.startswith('sh '):
                words = ['sh', stripped[3:]]  # the shell splits it
            elif stripped.startswith('let '):
                name, rest = stripped[4:].split(None, 1)
                words = ['let', name, rest]
            else:
                stripped = stripped.split('#', 1)[0].strip()
                if not stripped:
                    continue
                words = shlex.split(stripped)
            try:
                s.step(words)
            except SystemExit as e:
                if e.code:
                    print(f'session: {os.path.basename(a.script)} line {n} failed: {line.strip()}', file=sys.stderr)
                    subprocess.run(['import', '-window', 'root', os.path.join(out, 'failed.png')], env=s.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    print(f'session: the screen is in {out}/failed.png, the program\'s output in '
                          f'{out}/program.log', file=sys.stderr)
                raise
    finally:
        s.close()
    print(f'session {os.path.basename(a.script)}: every step ran ({time.time() - started:.0f} s)')


if __name__ == '__main__':
    main()
