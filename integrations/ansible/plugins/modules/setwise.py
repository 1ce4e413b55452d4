#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: setwise
short_description: Set or remove one setting of a product's layered configuration registry
description:
  - Reads the setting at one level of the registry with the product's own C(Setwise)
    executable and changes it only when it differs, so that a second run reports no change.
  - Every value is checked by Setwise against the product's registry syntax; a value
    it refuses fails the host with Setwise's own message.
options:
  key:
    description:
      - The setting, as a key path and an entry name joined by C(/), for example
        C(Desktop/Options/Units). Letter case is corrected to the product's syntax.
      - It names one entry; a whole key is removed with M(setwise_import) and a
        C(<delete type="key">) element.
    type: str
    required: true
  value:
    description:
      - The value to store; required when I(state=present). A string or an integer
        (booleans and floats are refused, so quote them).
    type: raw
  type:
    description:
      - The type to store the value with. Left out, an existing entry keeps its type,
        a new one takes the type the syntax declares, and otherwise a number is
        stored as an integer.
      - An entry that exists with the other type is refused; remove it first.
    type: str
    choices: [string, integer]
  level:
    description: The registry level to read and write.
    type: str
    required: true
    choices: [user_machine, user, install_machine, install, admin]
  state:
    description: Whether the setting holds I(value) at I(level) or is absent there.
    type: str
    choices: [present, absent]
    default: present
extends_documentation_fragment:
  - talven.setwise.setwise
attributes:
  check_mode:
    support: full
    description: Asks Setwise for a dry run (C(-DryRun)), which reports what the real run
      would do, refusals included; writes and creates nothing.
  diff_mode:
    support: full
    description: Returns the setting before and after.
notes:
  - Check mode fails the host where the real run would, for a misspelt key, a value of the
    wrong type or a level whose store file is damaged (named in the message).
  - With I(state=absent), a I(key) that names a key at I(level) fails the host, in check
    mode too, and nothing is removed.
seealso:
  - module: talven.setwise.setwise_import
  - module: talven.setwise.setwise_info
author:
  - Setwise developers
'''

EXAMPLES = r'''
- name: Every user of this installation gets the dark theme
  talven.setwise.setwise:
    executable: /opt/Meridian/Setwise
    product: Meridian
    key: Desktop/Theme
    value: dark
    level: install

- name: Eight solver threads on this machine
  talven.setwise.setwise:
    executable: /opt/Meridian/Setwise
    product: Meridian
    key: Solver/Threads
    value: 8
    type: integer
    level: install_machine

- name: Remove the installation's proxy host
  talven.setwise.setwise:
    executable: /opt/Meridian/Setwise
    product: Meridian
    key: Network/Proxy/Host
    level: install
    state: absent
'''

RETURN = r'''
key:
  description: The setting, spelt as the product's syntax spells it.
  returned: always
  type: str
  sample: Desktop/Theme
level:
  description: The level read and written.
  returned: always
  type: str
  sample: install
outcome:
  description:
    - C(created), C(changed) or C(unchanged) for I(state=present); C(deleted) or
      C(absent) for I(state=absent). In check mode, what a real run would do.
  returned: always
  type: str
  sample: changed
value:
  description: The value at the level after the run (an integer for an integer setting).
  returned: when state is present
  type: raw
  sample: dark
type:
  description: The type of I(value) after the run (in check mode, after the real run).
  returned: when state is present
  type: str
  sample: string
previous:
  description: The setting before the run, with C(value) and C(type) (C(value_hex) for bytes that are not UTF-8); null when it was absent.
  returned: always
  type: dict
  sample: {"value": "light", "type": "string"}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.talven.setwise.plugins.module_utils.setwise_runner import (
    COMMON_ARGUMENTS, LEVELS, check_executable, option, run_tool, tool_number)


def value_text(module, value):
    if isinstance(value, bool) or not isinstance(value, (int, str)):
        module.fail_json(msg='value must be a string or an integer, not %s %r: quote it'
                         % (type(value).__name__, value))
    return str(value)


def setting(document):
    """The value and type of a Get or Set document, or None when not found."""
    if document.get('found') is False or 'type' not in document:
        return None
    field = 'value' if 'value' in document else 'value_hex'
    return {field: document.get(field), 'type': document['type']}


def holds(current, text, wanted_type):
    if current is None or 'value' not in current:
        return False
    if wanted_type is not None and current['type'] != wanted_type:
        return False
    if current['type'] == 'integer':
        return tool_number(text) == current['value']
    return current['value'] == text


def diff_text(current):
    if current is None:
        return ''
    lines = ['%s: %s' % (field, current[field]) for field in ('type', 'value', 'value_hex')
             if current.get(field) is not None]
    return '\n'.join(lines) + '\n'


def main():
    module = AnsibleModule(
        argument_spec=dict(
            COMMON_ARGUMENTS,
            key=dict(type='str', required=True, no_log=False),
            value=dict(type='raw'),
            type=dict(type='str', choices=['string', 'integer']),
            level=dict(type='str', required=True,
                       choices=LEVELS),
            state=dict(type='str', default='present', choices=['present', 'absent']),
        ),
        required_if=[('state', 'present', ['value'])],
        supports_check_mode=True,
    )
    params = module.params
    check_executable(module)
    common = (option('ProductName', params['product']) + option('RegistryKey', params['key'])
              + option('RegistryLevel', params['level']))

    read = run_tool(module, ['/Get'] + common)
    before = setting(read)
    result = dict(changed=False, key=read.get('key', params['key']), level=params['level'],
                  previous=before)
    after = before

    # Check mode asks Setwise's dry run, which refuses what the real run refuses.
    dry_run = ['/DryRun'] if module.check_mode else []
    if params['state'] == 'absent':
        # Asked even when the read found nothing: a file the read skipped may
        # hold the entry, and the deletion then fails naming it. Setwise's
        # Delete takes a key of that path, with all below it, before an entry:
        # its dry run tells which, and this module removes entries alone.
        planned = run_tool(module, ['/Delete'] + common + ['/DryRun'])
        if planned.get('deleted') == 'key':
            module.fail_json(msg='%s is a key at level %s, not an entry: a whole key is removed '
                             'with setwise_import and a <delete type="key"> element'
                             % (planned.get('key', params['key']), params['level']), **result)
        deleted = planned if module.check_mode else run_tool(module, ['/Delete'] + common)
        result['outcome'] = deleted.get('outcome', 'absent')
        if result['outcome'] == 'deleted':
            result['changed'] = True
            after = None
    else:
        text = value_text(module, params['value'])
        wanted_type = params['type']
        if holds(before, text, wanted_type):
            result['outcome'] = 'unchanged'
        else:
            args = ['/Set'] + common + option('RegistryValue', text) + dry_run
            if wanted_type is not None:
                args += ['/ValueType', '2' if wanted_type == 'string' else '4']
            written = run_tool(module, args, ok=(0,))
            after = setting(written)
            result.update(changed=written['outcome'] != 'unchanged', outcome=written['outcome'],
                          key=written.get('key', result['key']))
        result.update(after or {})

    if module._diff:
        header = '%s %s at level %s' % (params['product'], result['key'], params['level'])
        result['diff'] = dict(before=diff_text(before), after=diff_text(after),
                              before_header=header, after_header=header)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
