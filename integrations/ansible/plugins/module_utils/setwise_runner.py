# -*- coding: utf-8 -*-
# Running the product's Setwise with -Json, as every module of the collection does.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import re

LEVELS = ['user_machine', 'user', 'install_machine', 'install', 'admin']

# The options every module takes; see the doc fragment talven.setwise.setwise.
COMMON_ARGUMENTS = dict(
    executable=dict(type='path', required=True),
    product=dict(type='str', required=True),
)

# The integers Setwise accepts: decimal digits with an optional minus sign,
# read as 32 bits (4294967295 is -1).
_NUMBER = re.compile(r'-?[0-9]+\Z')


def tool_number(text):
    if not _NUMBER.match(text):
        return None
    number = int(text)
    if number < -2 ** 31 or number > 2 ** 32 - 1:
        return None
    return number - 2 ** 32 if number >= 2 ** 31 else number


def option(name, value):
    """An option and its value; Setwise refuses a value that begins with its
    option's own prefix character."""
    return ['-' + name if value.startswith('/') else '/' + name, value]


def check_executable(module):
    executable = module.params['executable']
    if not os.path.isfile(executable) or not os.access(executable, os.X_OK):
        module.fail_json(msg='no Setwise executable at %s' % executable)


def warn(module, document):
    """The option parser's notes and the files and folders the run skipped."""
    for note in document.get('notes', []):
        module.warn('Setwise: %s' % note)
    for skipped in document.get('warnings', []):
        module.warn('Setwise skipped %s: %s' % (skipped.get('file') or skipped.get('folder'),
                                                skipped.get('reason')))


def run_json(module, args, data=None):
    """Setwise's -Json document and exit status; fails the host when there is none."""
    argv = [module.params['executable']] + args + ['/Json']
    rc, out, err = module.run_command(argv, data=data, binary_data=data is not None)
    try:
        document = json.loads(out)
    except ValueError:
        module.fail_json(msg='Setwise printed no JSON document (exit status %d)' % rc,
                         rc=rc, stdout=out, stderr=err, cmd=argv)
    return document, rc, argv


def run_tool(module, args, ok=(0, 1)):
    """Setwise's -Json document; fails the host, with Setwise's own reason, unless the
    status is in `ok`."""
    document, rc, argv = run_json(module, args)
    if rc not in ok:
        reasons = [document.get('refused') or document.get('error') or 'exit status %d' % rc]
        module.fail_json(msg='; '.join(reasons + document.get('notes', [])), rc=rc,
                         setwise=document, cmd=argv)
    warn(module, document)
    return document
