#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: setwise_info
short_description: Gather the settings of a product's layered configuration registry
description:
  - Lists every key and entry the product's registry syntax defines, with the value in
    force and the level it comes from, through the product's own C(Setwise) executable
    (C(Setwise -GetKeys -Json)). Changes nothing.
options:
  pattern:
    description:
      - Keeps the entries whose path contains it (C(*) any text, C(?) one character,
        C(\) quotes the next character). Left out, every entry is listed.
    type: str
  case_sensitive:
    description: Whether I(pattern) matches letter case exactly.
    type: bool
    default: false
  level:
    description:
      - Lists the values this level holds (C(admin) included) instead of those in force.
    type: str
    choices: [user_machine, user, install_machine, install, admin]
  entries:
    description:
      - Also returns Setwise's whole listing as I(entries). Left out, the result is about
        the size of Setwise's own document, which matters at fleet scale.
    type: bool
    default: false
extends_documentation_fragment:
  - talven.setwise.setwise
attributes:
  check_mode:
    support: full
    description: Reads only, in check mode as in a normal run.
  diff_mode:
    support: none
seealso:
  - module: talven.setwise.setwise
  - module: talven.setwise.setwise_import
author:
  - Setwise developers
'''

EXAMPLES = r'''
- name: Every Desktop setting of the installation
  talven.setwise.setwise_info:
    executable: /opt/Meridian/Setwise
    product: Meridian
    pattern: Desktop
  register: meridian

- name: Show the theme in force and where it comes from
  debug:
    msg: "{{ meridian.settings['Desktop/Theme'] }}"
'''

RETURN = r'''
settings:
  description:
    - The entries that have a value, by path, each with C(value) (an integer for an
      integer setting), C(type) (C(string) or C(integer)) and C(level) (where the value
      in force comes from, or with I(level) that level). Values that are not UTF-8 come
      as C(value_hex).
  returned: always
  type: dict
  sample: {"Desktop/Theme": {"value": "dark", "type": "string", "level": "install"}}
entries:
  description:
    - Setwise's listing as it is, in its order; keys and entries without a value come
      with C(why) instead of a value, and paths that are not UTF-8 as C(path_hex).
  returned: when I(entries) is true
  type: list
  elements: dict
  sample: [{"path": "Desktop", "why": "no value (key only)"}]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.talven.setwise.plugins.module_utils.setwise_runner import (
    COMMON_ARGUMENTS, LEVELS, check_executable, option, run_tool)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            COMMON_ARGUMENTS,
            pattern=dict(type='str'),
            case_sensitive=dict(type='bool', default=False),
            level=dict(type='str', choices=LEVELS),
            entries=dict(type='bool', default=False),
        ),
        supports_check_mode=True,
    )
    params = module.params
    check_executable(module)

    args = ['/GetKeys']
    pattern = params['pattern']
    if pattern:
        # Setwise reads an argument beginning with - or / as an option; the match is
        # on a part of the path, so a leading * matches the same entries.
        args.append('*' + pattern if pattern[0] in '-/' else pattern)
        if params['case_sensitive']:
            args.append('/Case')
    args += option('ProductName', params['product'])
    if params['level']:
        args += option('RegistryLevel', params['level'])
    # 1: nothing matched, which is an empty answer.
    document = run_tool(module, args)

    entries = document.get('entries', [])
    settings = {}
    for entry in entries:
        if 'path' in entry and 'level' in entry:
            settings[entry['path']] = dict((field, entry[field]) for field in
                                           ('value', 'value_hex', 'type', 'level') if field in entry)
    result = dict(changed=False, settings=settings)
    if params['entries']:
        result['entries'] = entries
    module.exit_json(**result)


if __name__ == '__main__':
    main()
