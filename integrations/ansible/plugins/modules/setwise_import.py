#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: setwise_import
short_description: Apply a settings document to a product's layered configuration registry
description:
  - Applies a whole settings document at one level with the product's own C(Setwise)
    executable (C(Setwise -Import)). All or nothing on each host, as every entry is checked
    first, and if any is refused nothing is written and the host fails with the refusals.
  - A settings document is a store file whose root key stands for the product; it holds
    C(<value>) elements and C(<delete type="value"|"key">) elements (see Setwise's README).
options:
  level:
    description: The registry level the document is applied at.
    type: str
    required: true
    choices: [user_machine, user, install_machine, install, admin]
  src:
    description: Path of the document on the managed host.
    type: path
  content:
    description: The document itself.
    type: str
extends_documentation_fragment:
  - talven.setwise.setwise
attributes:
  check_mode:
    support: full
    description: Runs Setwise's dry run, which reports each entry's outcome and every refusal and writes nothing.
  diff_mode:
    support: partial
    description:
      - Returns each entry of the document before and after, removed and absent ones
        included, read in one C(Setwise -GetKeys -RegistryLevel -Json) call before the
        import. An entry that listing does not show (one the syntax does not define) is
        C((unknown)) before.
notes:
  - Exactly one of I(src) and I(content) is given.
seealso:
  - module: talven.setwise.setwise
  - module: talven.setwise.setwise_info
author:
  - Setwise developers
'''

EXAMPLES = r'''
- name: The site's settings for every user of the installation
  talven.setwise.setwise_import:
    executable: /opt/Meridian/Setwise
    product: Meridian
    level: install
    content: |
      <key name="Meridian">
        <key name="Desktop">
          <value name="Theme" type="string">dark</value>
          <value name="FontSize" type="int">12</value>
          <delete type="value" name="ShowToolbar"/>
        </key>
      </key>

- name: A document copied to the host before
  talven.setwise.setwise_import:
    executable: /opt/Meridian/Setwise
    product: Meridian
    level: install_machine
    src: /tmp/meridian-settings.xml
'''

RETURN = r'''
level:
  description: The level the document was applied at.
  returned: when the document could be read
  type: str
  sample: install
entries:
  description:
    - Each entry of the document with its C(key) and C(outcome) (C(created), C(changed),
      C(unchanged), C(deleted), C(absent) or C(refused)); values with C(type) and C(value),
      deletions with C(deletes) (C(value) or C(key)), refusals with C(refused), Setwise's message.
    - Names and values that are not UTF-8 come as C(key_hex) and C(value_hex).
  returned: when the document could be read
  type: list
  elements: dict
  sample: [{"key": "Desktop/Theme", "outcome": "changed", "type": "string", "value": "dark"}]
counts:
  description: How many entries had each outcome.
  returned: when the document could be read
  type: dict
  sample: {"created": 0, "changed": 1, "unchanged": 1, "deleted": 0, "absent": 0, "refused": 0}
written:
  description: Whether the level's store file was rewritten (never in check mode).
  returned: when the document could be read
  type: bool
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.talven.setwise.plugins.module_utils.setwise_runner import (
    COMMON_ARGUMENTS, LEVELS, check_executable, option, run_json, run_tool, warn)

OUTCOMES = ('created', 'changed', 'unchanged', 'deleted', 'absent', 'refused')


def entry_key(entry):
    return entry.get('key', entry.get('key_hex', '?'))


def level_values(module, level):
    """What GetKeys lists at `level`: the paths it shows, and their values there."""
    listing = run_tool(module, ['/GetKeys'] + option('ProductName', module.params['product'])
                       + option('RegistryLevel', level))
    listed, values = set(), {}
    for entry in listing.get('entries', []):
        path = entry.get('path', entry.get('path_hex'))
        listed.add(path)
        if 'level' in entry:
            values[path] = entry.get('value', entry.get('value_hex'))
    return listed, values


def diff_lines(values):
    return ''.join('%s: %s\n' % (key, values[key]) for key in sorted(values))


def before_and_after(entries, listed, values):
    """Each entry of the document as the level held it and as the import leaves it."""
    before, after = {}, {}
    for entry in entries:
        key = entry_key(entry)
        if entry.get('deletes') == 'key':
            inside = [path for path in values if path.startswith(key + '/')]
            before.update((path, values[path]) for path in inside)
            continue
        if key in values:
            before[key] = values[key]
        elif key not in listed:
            before[key] = '(unknown)'
        if entry['outcome'] in ('created', 'changed', 'unchanged'):
            after[key] = entry.get('value', entry.get('value_hex'))
        elif entry['outcome'] == 'refused' and key in before:
            after[key] = before[key]
    return diff_lines(before), diff_lines(after)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            COMMON_ARGUMENTS,
            level=dict(type='str', required=True,
                       choices=LEVELS),
            src=dict(type='path'),
            content=dict(type='str'),
        ),
        mutually_exclusive=[('src', 'content')],
        required_one_of=[('src', 'content')],
        supports_check_mode=True,
    )
    params = module.params
    check_executable(module)

    # "-Import" takes its file whatever it begins with; "-" is standard input.
    args = ['-Import', params['src'] or '-']
    args += option('ProductName', params['product']) + option('RegistryLevel', params['level'])
    if module.check_mode:
        args.append('/DryRun')
    data = None
    if params['src'] is None:
        # Blanks are an empty document; no data at all would leave Setwise our stdin.
        data = params['content'] or ' '
    if module._diff:
        listed, values = level_values(module, params['level'])
    document, rc, argv = run_json(module, args, data=data)
    notes = document.get('notes', [])

    entries = document.get('entries', [])
    counts = dict((outcome, 0) for outcome in OUTCOMES)
    for entry in entries:
        counts[entry['outcome']] = counts.get(entry['outcome'], 0) + 1
    result = dict(changed=False)
    if 'entries' in document:
        result.update(level=document['level'], entries=entries, counts=counts,
                      written=document['written'])
    if rc != 0:
        refused = ['%s: %s' % (entry_key(entry), entry['refused'])
                   for entry in entries if entry['outcome'] == 'refused']
        if refused:
            reason = 'Setwise refused the document, nothing was written: ' + '; '.join(refused)
        elif 'file' in document:
            # An unreadable file's reason names it already, a damaged one's does not.
            reason = document.get('error', document.get('error_hex', ''))
            source = params['src'] or 'content'
            if not reason.startswith(source):
                reason = '%s: %s' % (source, reason)
        else:
            reason = document.get('error') or 'exit status %d' % rc
        module.fail_json(msg='; '.join([reason] + notes), rc=rc, setwise=document, cmd=argv,
                         **result)
    warn(module, document)

    result['changed'] = counts['created'] + counts['changed'] + counts['deleted'] > 0
    if module._diff:
        before, after = before_and_after(entries, listed, values)
        header = '%s at level %s' % (params['product'], params['level'])
        result['diff'] = dict(before=before, after=after, before_header=header,
                              after_header=header)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
