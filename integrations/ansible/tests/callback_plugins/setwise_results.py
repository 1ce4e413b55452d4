# Records every task result and the play recap as one JSON file for the test
# runner, so that it never reads Ansible's text output.
from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os

from ansible.plugins.callback import CallbackBase

DOCUMENTATION = r'''
name: setwise_results
type: aggregate
short_description: Writes each task result and the recap to $SETWISE_RESULTS_FILE
description: For the Setwise module tests.
'''


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'aggregate'
    CALLBACK_NAME = 'setwise_results'
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.results = []

    def _record(self, result, status):
        self.results.append(dict(host=result._host.get_name(), task=result._task.get_name(),
                                 status=status, result=result._result))

    def v2_runner_on_ok(self, result):
        self._record(result, 'ok')

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record(result, 'failed')

    def v2_runner_on_unreachable(self, result):
        self._record(result, 'unreachable')

    def v2_runner_on_skipped(self, result):
        self._record(result, 'skipped')

    def v2_playbook_on_stats(self, stats):
        recap = dict((host, stats.summarize(host)) for host in stats.processed)
        with open(os.environ['SETWISE_RESULTS_FILE'], 'w') as out:
            json.dump(dict(results=self.results, recap=recap), out, default=str)
