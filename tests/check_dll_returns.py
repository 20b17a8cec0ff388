#!/usr/bin/env python3
"""Checks that every exported entry point of a 32-bit VESTRIX.DLL removes
exactly its argument bytes from the stack when it returns, as the @N of its
standard-call name says: `ret $N`, or a plain `ret` for @0.

The DLL is read with objdump only, so this runs on machines that cannot run
32-bit programs. From each export's address the check follows the code as the
processor would: both ways at a conditional jump, into the target of a direct
jump (a tail call returns for the caller), past calls. Every return it reaches
must remove N bytes. An indirect jump, or an address that is not the start of
an instruction, fails the check rather than being guessed past.

usage: check_dll_returns.py OBJDUMP DLL
"""
import bisect
import re
import subprocess
import sys


PREFIXES = {'repz', 'rep', 'repnz', 'bnd', 'notrack', 'cs', 'ds', 'data16', 'addr16'}


def run(objdump, *args):
    return subprocess.run([objdump, *args], check=True, capture_output=True, text=True).stdout


def exports(objdump, dll):
    """Returns {name: address} of the DLL's exports."""
    dump = run(objdump, '-p', dll)
    base = int(re.search(r'^ImageBase\s+([0-9a-fA-F]+)', dump, re.M).group(1), 16)
    ordinal_base = int(re.search(r'Ordinal Base (\d+)', dump).group(1))
    rvas = {int(ordinal): int(rva, 16)
            for ordinal, rva in re.findall(r'\+base\[\s*(\d+)\]\s+([0-9a-fA-F]+) Export RVA', dump)}
    table = dump[dump.index('[Ordinal/Name Pointer] Table'):]
    names = re.findall(r'^\t\[\s*(\d+)\] (\S+)$', table, re.M)
    if not rvas or len(names) != len(rvas):
        raise SystemExit(f'read {len(names)} export names for {len(rvas)} exports from {dll}')
    return {name: base + rvas[int(index) + ordinal_base] for index, name in names}


def instructions(objdump, dll):
    """Returns {address: (mnemonic, operands)} of the code in the DLL."""
    code = {}
    line = re.compile(r'^\s*([0-9a-f]+):\t(.*)$')
    for text in run(objdump, '-d', '--no-show-raw-insn', dll).splitlines():
        match = line.match(text)
        if match:
            # Prefixes such as `repz ret` or `notrack jmp` do not change where
            # the code goes.
            words = match.group(2).split(None, 1)
            while len(words) == 2 and words[0] in PREFIXES:
                words = words[1].split(None, 1)
            if words:
                code[int(match.group(1), 16)] = (words[0], words[1].strip() if len(words) > 1 else '')
    return code


def returns(code, entry):
    """Returns [(address, bytes removed)] of the returns reachable from entry."""
    starts = sorted(code)
    found, seen, pending = [], set(), [entry]
    while pending:
        address = pending.pop()
        while address not in seen:
            seen.add(address)
            if address is None:
                raise ValueError('the code runs past the end of the section')
            if address not in code:
                raise ValueError(f'{address:#x} is not the start of an instruction')
            mnemonic, operands = code[address]
            index = bisect.bisect_right(starts, address)
            following = starts[index] if index < len(starts) else None
            if mnemonic in ('ret', 'retl'):
                found.append((address, int(operands.lstrip('$'), 16) if operands else 0))
                break
            if mnemonic in ('ud2', 'int3', 'hlt'):
                break
            if mnemonic in ('lret', 'iret', 'retf', 'lretl', 'iretl'):
                raise ValueError(f'unexpected {mnemonic} at {address:#x}')
            if mnemonic.startswith('j') or mnemonic.startswith('loop'):
                target = re.fullmatch(r'(0x)?([0-9a-f]+)( <.*>)?', operands)
                if not target:
                    raise ValueError(f'cannot follow {mnemonic} {operands} at {address:#x}')
                if mnemonic in ('jmp', 'jmpl'):
                    address = int(target.group(2), 16)
                    continue
                pending.append(int(target.group(2), 16))
            address = following
    return found


def main():
    objdump, dll = sys.argv[1:]
    entry_points = exports(objdump, dll)
    code = instructions(objdump, dll)
    failures = []
    for name, address in sorted(entry_points.items()):
        decorated = name if '@' in name else next(n for n in entry_points if n.startswith(name + '@'))
        wanted = int(decorated.rsplit('@', 1)[1])
        try:
            found = returns(code, address)
        except ValueError as error:
            failures.append(f'{name}: {error}')
            continue
        if not found:
            failures.append(f'{name}: no return found')
        wrong = [f'ret {removed} at {at:#x}' for at, removed in found if removed != wanted]
        if wrong:
            failures.append(f'{name}: must remove {wanted} bytes, but has {", ".join(wrong)}')
        elif found:
            print(f'{name}: {len(found)} return(s), each removing {wanted} bytes')
    if failures:
        sys.exit('\n'.join(failures))


if __name__ == '__main__':
    main()
