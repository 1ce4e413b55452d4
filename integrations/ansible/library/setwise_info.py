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
  executable:
    description:
      - Path of the product's C(Setwise) executable on the managed host. Its C(config/)
        folder beside it is the product's admin folder.
    type: path
    required: true
  product:
    description: The product name, as listed in C(config/ProductList.txt).
    type: str
    required: true
  pattern:
    description:
      - Keeps the entries whose path contains it (C(*) any text, C(?) one character,
        C(\) quotes the next character). Left out, every entry is listed.
    type: str
  case_sensitive:
    description: Whether I(pattern) matches letter case exactly.
    type: bool
    default: false
attributes:
  check_mode:
    support: full
    description: Reads only, in check mode as in a normal run.
  diff_mode:
    support: none
seealso:
  - module: setwise
  - module: setwise_import
author:
  - Setwise developers
'''

EXAMPLES = r'''
- name: Every Desktop setting of the installation
  setwise_info:
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
      in force comes from). Values that are not UTF-8 come as C(value_hex).
  returned: always
  type: dict
  sample: {"Desktop/Theme": {"value": "dark", "type": "string", "level": "install"}}
entries:
  description:
    - Setwise's listing as it is, in its order; keys and entries without a value come
      with C(why) instead of a value, and paths that are not UTF-8 as C(path_hex).
  returned: always
  type: list
  elements: dict
  sample: [{"path": "Desktop", "why": "no value (key only)"}]
'''

import json
import os

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(
        argument_spec=dict(
            executable=dict(type='path', required=True),
            product=dict(type='str', required=True),
            pattern=dict(type='str'),
            case_sensitive=dict(type='bool', default=False),
        ),
        supports_check_mode=True,
    )
    params = module.params
    if not os.path.isfile(params['executable']) or not os.access(params['executable'], os.X_OK):
        module.fail_json(msg='no Setwise executable at %s' % params['executable'])

    argv = [params['executable'], '/GetKeys']
    pattern = params['pattern']
    if pattern:
        # Setwise reads an argument beginning with - or / as an option; the match is
        # on a part of the path, so a leading * matches the same entries.
        argv.append('*' + pattern if pattern[0] in '-/' else pattern)
        if params['case_sensitive']:
            argv.append('/Case')
    product = params['product']
    argv += ['-ProductName' if product.startswith('/') else '/ProductName', product, '/Json']

    rc, out, err = module.run_command(argv)
    try:
        document = json.loads(out)
    except ValueError:
        module.fail_json(msg='Setwise printed no JSON document (exit status %d)' % rc,
                         rc=rc, stdout=out, stderr=err, cmd=argv)
    notes = document.get('notes', [])
    # 1: nothing matched, which is an empty answer.
    if rc not in (0, 1):
        reasons = [document.get('error') or 'exit status %d' % rc] + notes
        module.fail_json(msg='; '.join(reasons), rc=rc, setwise=document, cmd=argv)
    for note in notes:
        module.warn('Setwise: %s' % note)

    entries = document.get('entries', [])
    settings = {}
    for entry in entries:
        if 'path' in entry and 'level' in entry:
            settings[entry['path']] = dict((field, entry[field]) for field in
                                           ('value', 'value_hex', 'type', 'level') if field in entry)
    module.exit_json(changed=False, settings=settings, entries=entries)


if __name__ == '__main__':
    main()
