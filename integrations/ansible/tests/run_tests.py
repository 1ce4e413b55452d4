#!/usr/bin/env python3
"""Runs the Setwise Ansible modules on 10 local hosts.

Each host is a copy of the installed build tree (cmake --install) with the demo
product's config/ folder and a HOME of its own. Exit status 77: ansible-playbook
is missing, and the test is skipped.
"""
import argparse
import collections
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HOSTS = ['host%02d' % n for n in range(1, 11)]
TEXT_FONT_SIZE_HOST = 'host07'  # its font size is text: the integer setting refuses it
STRING_FONT_TYPE_HOST = 'host09'  # its document gives the integer setting the string type
NOT_AN_INTEGER = 'Value type is Int32, but registry value is not an integer'
TYPE_CHANGE = 'Cannot set the registry value to different data type'

HERE = os.path.dirname(os.path.abspath(__file__))
problems = []
outputs = []  # each run's own output, shown when a check fails


def expect(condition, what):
    if not condition:
        problems.append(what)


def make_hosts(cmake, build_dir, source_dir, tmp):
    installed = os.path.join(tmp, 'opt', 'Meridian')
    subprocess.run([cmake, '--install', build_dir, '--prefix', installed],
                   check=True, stdout=subprocess.DEVNULL)
    # Setwise finds the product's config/ folder beside itself.
    for path in ('Setwise', 'share/man/man1/Setwise.1'):
        expect(os.path.isfile(os.path.join(installed, path)), '%s is not installed' % path)
    shutil.copytree(os.path.join(source_dir, 'examples', 'demo-install', 'config'),
                    os.path.join(installed, 'config'))
    lines = ['[meridian]']
    for host in HOSTS:
        root = os.path.join(tmp, 'hosts', host, 'Meridian')
        # The binary is shared by a hard link; each host writes its own config/.
        shutil.copytree(installed, root, copy_function=os.link)
        shutil.rmtree(os.path.join(root, 'config'))
        shutil.copytree(os.path.join(installed, 'config'), os.path.join(root, 'config'))
        home = os.path.join(tmp, 'hosts', host, 'home')
        os.makedirs(home)
        extra = {TEXT_FONT_SIZE_HOST: ' font_size=large',
                 STRING_FONT_TYPE_HOST: ' font_type=string'}.get(host, '')
        lines.append('%s setwise_root=%s setwise_home=%s%s' % (host, root, home, extra))
    lines += ['[meridian:vars]', 'ansible_connection=local',
              'ansible_python_interpreter=/usr/bin/python3']
    inventory = os.path.join(tmp, 'inventory.ini')
    with open(inventory, 'w') as out:
        out.write('\n'.join(lines) + '\n')
    return inventory


def collections_path(tmp):
    """A collections folder with talven.setwise built from this source folder and
    installed from its tarball, offline, as its users install it."""
    path = os.path.join(tmp, 'collections')
    built = os.path.join(tmp, 'built')
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE='1', ANSIBLE_HOME=os.path.join(tmp, 'galaxy'))
    for argv in (['ansible-galaxy', 'collection', 'build', os.path.dirname(HERE),
                  '--output-path', built],
                 ['ansible-galaxy', 'collection', 'install', '--offline', '-p', path,
                  os.path.join(built, 'talven-setwise-1.0.0.tar.gz')]):
        subprocess.run(argv, check=True, env=env, stdout=subprocess.DEVNULL)
    return path


def ansible_env(tmp):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(('ANSIBLE_', 'TALVEN_', 'XDG_'))}
    config = os.path.join(tmp, 'ansible.cfg')
    open(config, 'w').close()
    env.update(
        ANSIBLE_CONFIG=config,  # nothing from /etc/ansible or the working folder
        ANSIBLE_HOME=os.path.join(tmp, 'ansible-home'),
        ANSIBLE_LOCAL_TEMP=os.path.join(tmp, 'ansible-local'),
        ANSIBLE_REMOTE_TMP=os.path.join(tmp, 'ansible-remote'),
        ANSIBLE_COLLECTIONS_PATH=collections_path(tmp),
        ANSIBLE_CALLBACK_PLUGINS=os.path.join(HERE, 'callback_plugins'),
        ANSIBLE_CALLBACKS_ENABLED='setwise_results',
        SETWISE_RESULTS_FILE=os.path.join(tmp, 'results.json'),
        ANSIBLE_FORKS='5',
        ANSIBLE_GATHERING='explicit',
        ANSIBLE_PIPELINING='True',
        ANSIBLE_RETRY_FILES_ENABLED='False',
        ANSIBLE_NOCOLOR='1',
        ANSIBLE_HOST_KEY_CHECKING='False',
        PYTHONDONTWRITEBYTECODE='1',  # no __pycache__ in the source folder
    )
    return env


class Run:
    """One ansible-playbook run: its results by task and host, and its recap."""

    def __init__(self, playbook, inventory, env, hosts=HOSTS):
        self.name = playbook
        proc = subprocess.run(['ansible-playbook', '-i', inventory, os.path.join(HERE, playbook)],
                              env=env, cwd=os.path.dirname(inventory),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        outputs.append('--- ansible-playbook %s\n%s' % (self.name, proc.stdout))
        if not os.path.exists(env['SETWISE_RESULTS_FILE']):
            print(proc.stdout)
            raise SystemExit('%s: no results' % self.name)
        with open(env['SETWISE_RESULTS_FILE']) as results:
            data = json.load(results)
        os.remove(env['SETWISE_RESULTS_FILE'])
        self.recap = data['recap']
        self.tasks = collections.defaultdict(dict)
        for row in data['results']:
            self.tasks.setdefault(row['task'], {})[row['host']] = row
        expect(sorted(self.recap) == hosts, '%s: not every host ran' % self.name)

    def hosts(self, counter):
        return sorted(h for h, recap in self.recap.items() if recap[counter] > 0)

    def changed_on(self, task):
        return sorted(h for h, row in self.tasks[task].items() if row['result'].get('changed'))

    def results(self, task):
        return [row['result'] for row in self.tasks[task].values()]


def store_files(hosts_dir):
    """Content digest and modification time of every file of every host but the
    binary and the snapshot caches (a read may fill those)."""
    found = {}
    for folder, subfolders, files in os.walk(hosts_dir):
        subfolders[:] = [name for name in subfolders if name != '.cache']
        for name in files:
            path = os.path.join(folder, name)
            if name == 'Setwise':
                continue
            with open(path, 'rb') as content:
                found[path] = (hashlib.sha256(content.read()).hexdigest(),
                               os.stat(path).st_mtime_ns)
    return found


def run_checks(args, tmp):
    inventory = make_hosts(args.cmake, os.path.abspath(args.build_dir),
                           os.path.abspath(args.source_dir), tmp)
    env = ansible_env(tmp)
    hosts_dir = os.path.join(tmp, 'hosts')
    counts = {'hosts': len(HOSTS)}

    # Modules whose documentation does not parse are unusable in ansible-doc.
    doc = subprocess.run(['ansible-doc', '-t', 'module'] +
                         ['talven.setwise.' + name for name in
                          ('setwise', 'setwise_import', 'setwise_info', 'setwise_check')],
                         env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    expect(doc.returncode == 0 and not doc.stderr,
           'ansible-doc: %s' % doc.stderr.strip())

    first = Run('set.yml', inventory, env)
    counts['changed on the first run'] = len(first.changed_on('theme'))
    expect(first.changed_on('theme') == HOSTS and not first.hosts('failures'),
           'first run: changed %s' % first.changed_on('theme'))
    # Each host's user level is in its own HOME.
    for host in HOSTS:
        user_file = os.path.join(hosts_dir, host, 'home', 'Documents', 'Talven', 'Meridian',
                                 'config', 'user.XML')
        expect(os.path.isfile(user_file) and b'>dark<' in open(user_file, 'rb').read(),
               '%s: the theme is not in its own user.XML' % host)

    before = store_files(hosts_dir)
    check = Run('check.yml', inventory, env)
    after = store_files(hosts_dir)
    counts['changed on the second run'] = len(check.changed_on('theme'))
    expect(check.changed_on('theme') == [] and len(check.tasks['theme']) == len(HOSTS)
           and not check.hosts('failures'),
           'second run: changed %s, failed %s' % (check.changed_on('theme'),
                                                 check.hosts('failures')))
    touched = sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))
    counts['check-mode files untouched'] = '%d of %d' % (len(before) - len(touched),
                                                         len(before))
    expect(not touched, 'check mode changed %s' % touched)
    expect(check.changed_on('theme in check mode') == HOSTS,
           'check mode changed only %s' % check.changed_on('theme in check mode'))
    diffs = [('theme in check mode', 'type: string\nvalue: dark\n',
              'type: string\nvalue: blue\n'),
             ('units absent in check mode', 'type: string\nvalue: mm\n', '')]
    for task, old, new in diffs:
        for result in check.results(task):
            diff = result.get('diff', {})
            expect(result.get('changed') and (diff.get('before'), diff.get('after')) == (old, new),
                   '%s: %s' % (task, result))
    # Check mode refuses what the real run refuses.
    for task, refusal in (('misspelt key in check mode', 'registry key is not defined'),
                          ('text for an integer in check mode', NOT_AN_INTEGER)):
        refused = [r for r in check.results(task) if refusal in r.get('msg', '')]
        expect(len(refused) == len(HOSTS), '%s: %s' % (task, check.results(task)[:1]))
    result = check.results('import in check mode')[0]
    diff = result.get('diff', {})
    expect((diff.get('before'), diff.get('after')) ==
           ('Desktop/FontSize: 10\nDesktop/Options/Units: mm\nDesktop/Theme: light\n'
            'Solver/Threads: 4\nSolver/Tolerance: 1e-6\n',
            'Desktop/FontSize: 16\nDesktop/Options/Language: fr\nDesktop/Options/Units: mm\n'
            'Desktop/Theme: slate\nSolver/Threads: -1\n'),
           'import diff in check mode: %s' % diff)
    outcomes = {e['key']: e['outcome'] for e in result.get('entries', [])}
    expect(result.get('changed') and result.get('written') is False
           and outcomes.get('Desktop/Theme') == 'changed'
           and outcomes.get('Solver/Tolerance') == 'deleted',
           'import in check mode: %s' % result)

    rollout = Run('rollout.yml', inventory, env)
    failed = sorted({row['host'] for task, rows in rollout.tasks.items() for row in rows.values()
                     if row['status'] == 'failed' and task != 'a key absent'})
    counts['refused'] = ', '.join(failed)
    expect(failed == [TEXT_FONT_SIZE_HOST, STRING_FONT_TYPE_HOST], 'refusals on %s' % failed)
    font = rollout.tasks['font size']
    expect(font[TEXT_FONT_SIZE_HOST]['result'].get('msg') == NOT_AN_INTEGER,
           'font size refusal: %s' % font[TEXT_FONT_SIZE_HOST]['result'].get('msg'))
    expect(rollout.changed_on('font size') == sorted(set(HOSTS) - {TEXT_FONT_SIZE_HOST}),
           'font size changed on %s' % rollout.changed_on('font size'))
    for host, row in font.items():
        expect(host == TEXT_FONT_SIZE_HOST or row['result'].get('diff', {}).get('after')
               == 'type: integer\nvalue: 14\n', '%s: font size %s' % (host, row['result']))
    document = rollout.tasks['document'][STRING_FONT_TYPE_HOST]['result']
    expect(TYPE_CHANGE in document.get('msg', '') and 'Desktop/FontSize' in document['msg']
           and document.get('written') is False,
           'document refusal: %s' % document.get('msg'))
    expect(rollout.changed_on('document') == ['host01'],
           'document changed %s' % rollout.changed_on('document'))
    refused = rollout.tasks['a key absent']['host01']
    expect(refused['status'] == 'failed'
           and 'is a key at level install' in refused['result'].get('msg', ''),
           'a key absent: %s' % refused)
    deleted = rollout.results('units absent')[0]
    expect(deleted.get('outcome') == 'deleted' and deleted['diff']['after'] == '',
           'units absent: %s' % deleted)

    expect(rollout.changed_on('import') == HOSTS and rollout.changed_on('import again') == [],
           'import changed %s, again %s' % (rollout.changed_on('import'),
                                            rollout.changed_on('import again')))
    settings = [r['settings'] for r in rollout.results('info')]
    counts['hosts with the same settings'] = sum(s == settings[0] for s in settings)
    expect(len(settings) == len(HOSTS) and all(s == settings[0] for s in settings),
           'the hosts report different settings')
    expected = {
        'Desktop/Theme': {'value': 'dark', 'type': 'string', 'level': 'user'},
        'Desktop/FontSize': {'value': 16, 'type': 'integer', 'level': 'install'},
        'Desktop/Options/Units': {'value': 'mm', 'type': 'string', 'level': 'install'},
        'Solver/Threads': {'value': -1, 'type': 'integer', 'level': 'install'},
    }
    got = {path: settings[0].get(path) for path in expected}
    expect(got == expected and 'Solver/Tolerance' not in settings[0],
           'info after the import: %s' % got)
    expect(all('entries' not in r for r in rollout.results('info')),
           'info returned the listing unasked')
    checks = rollout.results('check')
    expect(len(checks) == len(HOSTS) and all(r.get('findings') == [] and r.get('files_checked')
                                             for r in checks),
           'check: %s' % checks[:1])
    admin = rollout.results('info of the admin level with the listing')[0]
    expect(admin.get('entries') and admin.get('settings')
           and all(s['level'] == 'admin' for s in admin['settings'].values()),
           'info at admin: %s' % admin.get('settings'))
    slash = rollout.results('info with a pattern that begins with a slash')[0]
    expect(sorted(slash.get('settings', {})) == ['Desktop/Options/Language',
                                                 'Desktop/Options/Units'],
           'info with /options/: %s' % slash.get('settings'))
    # Damage, after everything above: a truncated install file, a user folder
    # whose place holds a file.
    damaged_file = os.path.join(hosts_dir, 'host08', 'Meridian', 'config', 'default.XML')
    with open(damaged_file, 'r+b') as truncated:
        truncated.truncate(40)
    documents = os.path.join(hosts_dir, 'host10', 'home', 'Documents')
    shutil.rmtree(documents)
    open(documents, 'w').close()
    damage = Run('damage.yml', inventory, env, hosts=['host08', 'host10'])
    on = {task: damage.tasks[task] for task in damage.tasks}
    failed = {task: sorted(h for h, row in rows.items() if row['status'] == 'failed')
              for task, rows in on.items()}
    expect(failed == {'font size on a damaged host': ['host08'],
                      'units absent on a damaged host': ['host08'],
                      'theme in check mode on a damaged host': ['host10'],
                      'info on a damaged host': [], 'check on a damaged host': []},
           'damage: failed %s' % failed)
    for task in ('font size on a damaged host', 'units absent on a damaged host'):
        expect(damaged_file in on[task]['host08']['result'].get('msg', ''),
               '%s: %s' % (task, on[task]['host08']['result'].get('msg')))
    expect('cannot be listed' in on['theme in check mode on a damaged host']['host10']
           ['result'].get('msg', ''), 'theme on host10: %s' % on['theme in check mode on a '
                                                              'damaged host']['host10'])
    for host, skipped in (('host08', damaged_file), ('host10', documents)):
        warnings = ' '.join(on['info on a damaged host'][host]['result'].get('warnings', []))
        expect(skipped in warnings, 'info on %s warns %s' % (host, warnings))
        kinds = [f['kind'] for f in on['check on a damaged host'][host]['result']['findings']]
        expect(kinds == [{'host08': 'damaged', 'host10': 'unreadable'}[host]],
               'check on %s: %s' % (host, kinds))
    counts['damaged hosts failed by name'] = 2
    return counts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build-dir', required=True)
    parser.add_argument('--source-dir', required=True)
    parser.add_argument('--cmake', default='cmake')
    args = parser.parse_args()
    if shutil.which('ansible-playbook') is None:
        print('SKIPPED: ansible-playbook is not installed (scripts/install-deps.sh installs '
              'ansible-core)')
        return 77
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix='setwise-ansible.') as tmp:
        try:
            counts = run_checks(args, tmp)
        except Exception:
            print('\n'.join(outputs))
            raise

    counts['seconds'] = '%.1f' % (time.monotonic() - started)
    if problems:
        print('\n'.join(outputs))
    for problem in problems:
        print('FAILED: ' + problem)
    print('\n'.join('%s: %s' % item for item in counts.items()))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
