# -*- coding: utf-8 -*-
# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Lines for people from the results of orvel.update.update_info."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import re

# apt's options that take the next word as their value.
_TAKES_VALUE = re.compile(r'^(-[A-Za-z]*[octa]|--(option|config-file|target-release|default-release|host-architecture))$')


def apt_command_word(args):
    """The first of apt's arguments args that is no option nor an option's value
    (a command word or a package name, which no check can take), or ''."""
    index = 0
    while index < len(args):
        word = args[index]
        if word == '--':
            return args[index + 1] if index + 1 < len(args) else ''
        if _TAKES_VALUE.match(word):
            index += 2
            continue
        if not word.startswith('-'):
            return word
        index += 1
    return ''


def refusal_line(refusal):
    """'1.8.0 (linear, major-version-changed), offered by SOURCE, ...' for one refusal: the fields
    in the order and words of the line that orvel-update-check logs for it, without its
    'update refused: ' and the installed release, which the host's summary says once."""
    subject = refusal.get('version') or ('installed release unknown' if refusal.get('rule') == 'installed-version-unknown'
                                         else 'versions unknown')
    line = '%s (%s, %s)' % (subject, refusal.get('check'), refusal.get('rule'))
    if not refusal.get('sources_known', True):
        line += ', sources unknown: apt could not list them'
    # A tool before 1.1.0 names URLs alone.
    sources = refusal.get('package_files') or refusal.get('sources')
    if sources:
        line += ', offered by ' + ', '.join(sources)
    if refusal.get('apt_error'):
        line += ', apt said: ' + refusal['apt_error']
    return line


def host_verdict(host, hostvars, result_name='orvel_update'):
    """'HOST: allowed|refused|failed|not checked ...' from the host's registered result."""
    result = hostvars.get(host, {}).get(result_name)
    if not result or result.get('skipped'):
        return '%s: not checked (unreachable, or not reached yet)' % host
    installed = result.get('installed') or '(unknown)'
    if result.get('failed') and 'allowed' not in result:
        return '%s: failed, nothing checked: %s' % (host, result.get('msg', ''))
    if result.get('allowed'):
        return '%s: allowed, installed %s' % (host, installed)
    verdict = 'refused and failed' if result.get('failed') else 'refused'
    return '%s: %s, installed %s: %s' % (host, verdict, installed,
                                         '; '.join(refusal_line(refusal) for refusal in result.get('refusals', [])))


class FilterModule(object):
    def filters(self):
        return {'refusal_line': refusal_line, 'host_verdict': host_verdict, 'apt_command_word': apt_command_word}
