#!/usr/bin/env python3
"""Runs every shell example of README.md and of the manual pages' sources
against morvane-sim and checks its exit code and the shape of its output.

An example is a fenced block (sh or console) of README.md, or a group of
lines in the EXAMPLES of a packaging/*.h2m. A comment before it may say how
to run it (<!-- example: ... --> in the README, .\\" example: ... in a page):
  sim="OPTIONS"   the simulator's options (default --address 7)
  exit=N[,N...]   the exit codes, one for each command (default 0)
  bound=SECONDS   the command runs this long, then gets SIGINT as from Ctrl-C
  skip="REASON"   not run, with the reason (real hardware, a display)
  any             the output is not checked
A block with "$ " prompts is a transcript: each command's output must have
the shape of the lines shown under it. Otherwise the block runs as one
script; a "# → TEXT" comment gives the shape of a line it prints. Shapes
are compared with every run of digits alike; a line "..." stands for any
lines, and a line ending in "..." for any end. The port of a command is
replaced by the simulator's terminal (tcp:// by its TCP listener), and
morvane-cli, morvane-sim and bench/ are the build's; each runs in a folder
of the runner's own, where the examples leave their files for the next. Rows of read --format json are
checked against the installed schema.
Usage: check_examples.py SOURCE_DIR BUILD_DIR
"""
import ctypes, json, os, re, shlex, signal, subprocess, sys, tempfile

SOURCE, BUILD = sys.argv[1], sys.argv[2]
TIME_LIMIT = 60
PORT = re.compile(r'((?:^|\s)(?:--port[ =]|-p )|MORVANE_PORT=)("[^"]*"|\S+)')
started = []   # every process group and simulator, stopped at the end
NAMESPACE = []


def die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)   # PR_SET_PDEATHSIG
    os.setsid()


def examples():
    """(where, options, commands) in document order; a command is (text, shape lines or None)."""
    for name in ['README.md'] + sorted('packaging/' + f for f in os.listdir(SOURCE + '/packaging') if f.endswith('.h2m')):
        lines = open(os.path.join(SOURCE, name), encoding='utf-8').read().split('\n')
        marker, block, start, inside = '', None, 0, False
        for number, line in enumerate(lines, 1):
            m = re.match(r'\s*(?:<!--|\.\\")\s*example:(.*?)(?:-->)?\s*$', line)
            if m:
                if block:
                    yield from group(name, start, marker, block)
                marker, block, start = m.group(1), ([] if inside else None), number + 1
            elif name.endswith('.md') and re.match(r'```(sh|console)\s*$', line) and block is None:
                block, start = [], number + 1
            elif name.endswith('.md') and line.startswith('```') and block is not None:
                yield from group(name, start, marker, block)
                marker, block = '', None
            elif name.endswith('.h2m') and line == '.nf':
                inside, block, start = True, [], number + 1
            elif name.endswith('.h2m') and line == '.fi':
                if block:
                    yield from group(name, start, marker, block)
                inside, marker, block = False, '', None
            elif block is not None:
                block.append(line)


def group(name, start, marker, block):
    options = dict(sim='--address 7', exit='0', bound='', skip='', any='', transcript='')
    for word in shlex.split(marker):
        key, _, value = word.partition('=')
        options[key] = value or 'yes'
    text = '\n'.join(block).replace('\\-', '-').strip('\n')
    if not any(line.startswith('$ ') for line in block):
        shapes = re.findall(r'# → (.*)', text)
        yield f'{name}:{start}', options, [(re.sub(r'\s*# → .*', '', text), shapes or None)]
        return
    options['transcript'] = 'yes'
    commands = []
    for line in block:
        if line.startswith('$ '):
            commands.append([line[2:], []])
        elif commands and commands[-1][0].endswith('\\'):
            commands[-1][0] += '\n' + line
        elif commands:
            commands[-1][1].append(line)
    yield f'{name}:{start}', options, [(c, s) for c, s in commands]


def shape(line):
    """Digits alike, and a time's offset from UTC alike (Z is one)."""
    line = re.sub(r'(\d\d:\d\d(?:\.\d{3})?)(?:Z|[+-]\d\d:\d\d)\b', r'\1Z', line.rstrip())
    return re.sub(r'\d+', '9', line)


def matches(output, shapes, whole):
    lines = []
    for line in shapes:
        if line.strip() == '...':
            lines.append(r'(?:[^\n]*\n)*?')
        elif line.endswith('...'):
            lines.append(re.escape(shape(line[:-3])) + r'[^\n]*\n')
        else:
            lines.append(re.escape(shape(line)) + r'\n')
    text = ''.join(shape(line) + '\n' for line in output.splitlines())
    if whole:
        return re.fullmatch(''.join(lines), text) is not None
    return re.search(r'(?m)^' + r'(?:[^\n]*\n)*?'.join(lines), text) is not None


def simulator(arguments):
    sim = subprocess.Popen([BUILD + '/sim/morvane-sim', '--exit-with-parent'] + shlex.split(arguments),
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, preexec_fn=die_with_parent)
    started.append(sim)
    return sim.stdout.readline().strip()


def with_ports(command, terminal, listener, own_pty):
    def port(m):
        value = m.group(2)
        if value.strip('"').startswith('tcp://'):
            return m.group(1) + listener()
        return m.group(1) + (own_pty if re.search(r'\bmorvane-sim\b', command) else terminal)
    return PORT.sub(port, command)


def own_pid_namespace():
    """The words that run an example in a PID namespace of its own: when the
    runner dies, however, the namespace and all the example started go too."""
    words = ['unshare', '--pid', '--fork', '--kill-child'] + ([] if os.geteuid() == 0 else ['--user', '--map-root-user'])
    try:
        return words if subprocess.run(words + ['true'], stderr=subprocess.DEVNULL).returncode == 0 else []
    except FileNotFoundError:
        return []


def run(command, bound, env, folder):
    shell = subprocess.Popen(NAMESPACE + ['bash', '-c', command], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, preexec_fn=die_with_parent)
    started.append(shell)
    try:
        output, _ = shell.communicate(timeout=float(bound) if bound else TIME_LIMIT)
    except subprocess.TimeoutExpired:
        os.killpg(shell.pid, signal.SIGINT if bound else signal.SIGKILL)
        output, _ = shell.communicate()
        if not bound:
            return None, output
    return shell.returncode, output


def check_json(command, output, schema):
    if not re.search(r'\bread\b.*--format json', command):
        return ''
    import jsonschema
    for line in output.splitlines():
        if line.startswith('{'):
            try:
                jsonschema.validate(json.loads(line), schema)
            except jsonschema.ValidationError as error:
                return f'a row the schema refuses: {line}\n{error.message}'
    return ''


def check(where, options, commands, folder, env, own_pty, schema):
    terminal = simulator(options['sim'])
    listener = lambda: simulator(options['sim'] + ' --listen 127.0.0.1:0')
    exits = options['exit'].split(',')
    for i, (command, shapes) in enumerate(commands):
        given = PORT.search(command)
        runnable = with_ports(command, terminal, listener, own_pty)
        code, output = run(runnable, options['bound'], env, folder)
        expected = int(exits[min(i, len(exits) - 1)])
        if code is None:
            return f'{command}\nstill running after {TIME_LIMIT} s:\n{output}'
        if code != expected:
            return f'{command}\nexit {code}, not {expected}:\n{output}'
        if shapes is not None and not options['any']:
            if given:
                shapes = [re.sub('(/dev/)?' + re.escape(given.group(2)), terminal, line) for line in shapes]
            if not matches(output, shapes, whole=bool(options['transcript'])):
                return f'{command}\nprinted:\n{output}\nnot of the shape:\n' + '\n'.join(shapes)
        problem = check_json(command, output, schema)
        if problem:
            return f'{command}\n{problem}'
    return ''


def main():
    global NAMESPACE
    NAMESPACE = own_pid_namespace()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    schema = json.load(open(SOURCE + '/packaging/reading.schema.json'))
    passed = failed = skipped = 0
    with tempfile.TemporaryDirectory() as folder:
        bin_dir = os.path.join(folder, 'bin')
        os.mkdir(bin_dir)
        for tool in ('cli/morvane-cli', 'sim/morvane-sim'):
            os.symlink(os.path.join(os.path.abspath(BUILD), tool), os.path.join(bin_dir, os.path.basename(tool)))
        os.symlink(os.path.join(os.path.abspath(BUILD), 'bench'), os.path.join(folder, 'bench'))
        os.mkdir(os.path.join(folder, 'docs'))   # where the README draws its picture
        env = dict(os.environ, PATH=bin_dir + ':' + os.environ['PATH'], LC_ALL='C.UTF-8')
        for name in ('MORVANE_PORT', 'MORVANE_BAUD', 'MORVANE_LOCAL_ECHO'):
            env.pop(name, None)
        pair = os.openpty()   # the device morvane-sim --port is given, kept open
        own_pty = os.ttyname(pair[1])
        try:
            for where, options, commands in examples():
                if options['skip']:
                    print(f'SKIP {where}: {options["skip"]}')
                    skipped += 1
                    continue
                problem = check(where, options, commands, folder, env, own_pty, schema)
                print(f'{"FAIL" if problem else "ok  "} {where}' + (f': {problem}' if problem else ''))
                failed += bool(problem)
                passed += not problem
                stop()
        finally:
            stop()
    print(f'examples: {passed} passed, {failed} failed, {skipped} skipped')
    return 1 if failed or not passed else 0


def stop():
    for process in started:
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        if 'bash' in process.args:
            try:
                os.killpg(process.pid, signal.SIGKILL)   # what the example left behind
            except ProcessLookupError:
                pass
    started.clear()


if __name__ == '__main__':
    sys.exit(main())
