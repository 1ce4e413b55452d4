#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: setwise_check
short_description: Check the store files of a product's layered configuration registry
description:
  - Reads every store file and syntax file of the product with its own C(Setwise)
    executable (C(Setwise -Check -Json)) and returns what it finds wrong; damaged or
    unreadable files and folders, values the syntax does not define or types
    otherwise, spellings that differ in letter case, strings too long to be read.
    Changes nothing.
options:
  fail_on_findings:
    description: Fails the host when there is any finding.
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
  - module: talven.setwise.setwise_info
author:
  - Setwise developers
'''

EXAMPLES = r'''
- name: Fail the hosts whose store needs attention
  talven.setwise.setwise_check:
    executable: /opt/Meridian/Setwise
    product: Meridian
    fail_on_findings: true
'''

RETURN = r'''
files_checked:
  description: The store and syntax files the product's registry reads that exist.
  returned: always
  type: int
  sample: 6
findings:
  description:
    - One per finding, with C(kind) (C(damaged), C(unreadable), C(undefined), C(type),
      C(spelling), C(too_long)) and the C(file) or C(folder), C(level), C(key) and
      C(reason) that apply.
  returned: always
  type: list
  elements: dict
  sample: [{"kind": "damaged", "file": "/opt/Meridian/config/default.XML", "reason": "line 5, column 6: duplicate value"}]
summary:
  description: Setwise's summary line.
  returned: always
  type: str
  sample: "Checked 6 files: 1 findings."
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.talven.setwise.plugins.module_utils.setwise_runner import (
    COMMON_ARGUMENTS, check_executable, option, run_tool)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            COMMON_ARGUMENTS,
            fail_on_findings=dict(type='bool', default=False),
        ),
        supports_check_mode=True,
    )
    check_executable(module)
    # 1: something was found, which is an answer too.
    document = run_tool(module, ['/Check'] + option('ProductName', module.params['product']))
    result = dict(changed=False, files_checked=document.get('files_checked', 0),
                  findings=document.get('findings', []), summary=document.get('summary', ''))
    if module.params['fail_on_findings'] and result['findings']:
        module.fail_json(msg=result['summary'], **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
