# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    # The options every module of the collection shares.
    DOCUMENTATION = r'''
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
notes:
  - The user levels are found through the C(HOME) of the user the module runs as.
  - Store files and folders Setwise skipped while reading (damaged, unreadable) come back as
    Ansible warnings that name them.
'''
