#!/usr/bin/python
# -*- coding: utf-8 -*-
# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: update_info
short_description: Whether the pending apt update may be installed on an Orvel system
version_added: "1.1.0"
description:
  - Asks the Orvel update checks on the managed node whether the pending distribution update through apt
    may be installed, and why not. It runs C(orvel-update-check --json -- APT_ARGS) and returns the tool's
    verdict unchanged.
  - Every offered version must keep the design and major version of the installed Orvel release, and every
    hotfix repository must belong to the installed release or to an offered regular release.
  - The module changes nothing on the node; C(changed) is always false. It supports check mode.
  - Whatever goes wrong (the tool missing, a usage or output error, an answer that is not the tool's verdict)
    fails the task; the module never reports an update as allowed that the tool did not allow.
options:
  apt_args:
    description:
      - apt's configuration options for the pending operation (C(-o), C(-c), C(-t), ...), given to the tool
        after C(--) and passed on to apt byte for byte.
    type: list
    elements: str
    default: []
  fail_when_refused:
    description:
      - Fail the task when the update is refused, with the refusals in the result.
      - By default a refused update is a successful task whose C(allowed) is false.
    type: bool
    default: false
notes:
  - Runs under the managed node's Python, 2.7 or 3.5 and later.
  - The checks read the offered versions as apt knows them; run C(apt update) first (M(ansible.builtin.apt) with
    C(update_cache)) to judge what the repositories offer now.
requirements:
  - orvel-update-check on the managed node (Debian package C(orvel-update-check)).
seealso:
  - module: ansible.builtin.apt
author:
  - Orvel maintainers (@orvel)
'''

EXAMPLES = r'''
- name: Ask whether the pending update may be installed
  orvel.update.update_info:
  register: orvel_update

- name: Upgrade only when the update keeps to the installed release line
  ansible.builtin.apt:
    upgrade: dist
  when: orvel_update.allowed

- name: Judge the update from another target release, and fail when it is refused
  orvel.update.update_info:
    apt_args: ["-t", "bookworm-backports"]
    fail_when_refused: true
'''

RETURN = r'''
allowed:
  description: Whether the pending update may be installed.
  returned: success
  type: bool
  sample: false
installed:
  description: The installed Orvel release the checks judged against; empty when it is unknown.
  returned: success
  type: str
  sample: "1.7.2"
invalid_sources:
  description: The package sources (repository URLs) that offer a refused version, sorted.
  returned: success
  type: list
  elements: str
  sample: ["http://repo.orvel.example/next"]
refusals:
  description: One entry per refused version, by check (linear first, then hotfix), each check's in version order.
  returned: success
  type: list
  elements: dict
  contains:
    check:
      description: The check that refused it, C(linear) or C(hotfix).
      type: str
      sample: linear
    rule:
      description:
        - The rule it breaks, C(major-version-changed), C(design-version-changed), C(hotfix-not-allowed),
          C(versions-unknown) when apt could not say which versions are offered, or C(installed-version-unknown)
          when the installed release could not be read.
      type: str
      sample: major-version-changed
    version:
      description: The refused version; empty for C(versions-unknown) and C(installed-version-unknown).
      type: str
      sample: "1.8.0"
    installed:
      description: The installed version it was judged against.
      type: str
      sample: "1.7.2"
    sources:
      description: The package sources that offer it, sorted.
      type: list
      elements: str
      sample: ["http://repo.orvel.example/orvel"]
    package_files:
      description: The same sources as apt's sources list names them, C(URL suite/component), sorted.
      type: list
      elements: str
      sample: ["http://repo.orvel.example/orvel next/main"]
    sources_known:
      description: False when apt could not list which sources offer what (C(sources) is then empty).
      type: bool
      sample: true
    message:
      description: One sentence for a person, in English.
      type: str
      sample: 1.8.0 changes the major version of the installed 1.7.2
    apt_error:
      description: For C(versions-unknown), apt's first error line (or what else ended its query); empty otherwise.
      type: str
      sample: "E: Command line option --json is not understood in combination with the other options"
'''

import json

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.six import string_types

REFUSAL_FIELDS = {'check': string_types, 'rule': string_types, 'version': string_types,
                  'installed': string_types, 'sources': list, 'message': string_types, 'sources_known': bool}


def shape_problem(verdict):
    """What keeps verdict from being the tool's JSON answer, or None."""
    if not isinstance(verdict, dict):
        return 'not a JSON object'
    if not isinstance(verdict.get('allowed'), bool):
        return '"allowed" is not true or false'
    if not isinstance(verdict.get('installed'), string_types):
        return '"installed" is not a text'
    sources = verdict.get('invalid_sources')
    if not isinstance(sources, list) or not all(isinstance(source, string_types) for source in sources):
        return '"invalid_sources" is not a list of texts'
    refusals = verdict.get('refusals')
    if not isinstance(refusals, list):
        return '"refusals" is not a list'
    for refusal in refusals:
        if not isinstance(refusal, dict):
            return 'a refusal is not a JSON object'
        for field, kind in REFUSAL_FIELDS.items():
            if not isinstance(refusal.get(field), kind):
                return 'a refusal has no valid "%s"' % field
    if verdict['allowed'] and refusals:
        return 'an allowed update with refusals'
    return None


def main():
    module = AnsibleModule(
        argument_spec=dict(
            apt_args=dict(type='list', elements='str', default=[]),
            fail_when_refused=dict(type='bool', default=False),
        ),
        supports_check_mode=True,
    )

    tool = module.get_bin_path('orvel-update-check')
    if tool is None:
        module.fail_json(msg='orvel-update-check was not found on the managed node: install the package '
                             'orvel-update-check')

    command = [tool, '--json', '--'] + module.params['apt_args']
    rc, stdout, stderr = module.run_command(command)
    failure = dict(cmd=command, rc=rc, stdout=stdout, stderr=stderr)
    # 0: allowed, 1: refused; anything else is the tool's own failure.
    if rc not in (0, 1):
        module.fail_json(msg='orvel-update-check failed with exit status %d: %s' % (rc, stderr.strip()), **failure)
    try:
        verdict = json.loads(stdout)
    except ValueError as error:
        module.fail_json(msg='orvel-update-check printed no JSON verdict (%s): %s' % (error, stderr.strip()),
                         **failure)
    problem = shape_problem(verdict)
    if problem is None and verdict['allowed'] != (rc == 0):
        problem = 'a verdict that disagrees with its exit status %d' % rc
    if problem is not None:
        module.fail_json(msg='orvel-update-check printed no valid verdict: %s' % problem, **failure)

    result = dict(changed=False, allowed=verdict['allowed'], installed=verdict['installed'],
                  invalid_sources=verdict['invalid_sources'], refusals=verdict['refusals'])
    if module.params['fail_when_refused'] and not verdict['allowed']:
        module.fail_json(msg='the pending update is refused: %s'
                             % '; '.join(refusal['message'] for refusal in verdict['refusals']), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
