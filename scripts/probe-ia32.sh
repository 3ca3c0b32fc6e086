#!/usr/bin/env bash
# Exits 0 when this kernel runs 32-bit x86 programs (IA32 emulation), 1 when it does not.
# The probe is a static i386 program of 96 bytes (an ELF header, one loadable segment and
# "mov eax,1; mov ebx,42; int 0x80") that only exits with status 42, so nothing of the
# 32-bit Wine is needed to find out whether it could run here.
set -u
probe=$(mktemp "${TMPDIR:-/tmp}/ia32-probe.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT
elf_header='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
segment='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
code='\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
printf "$elf_header$segment$code" >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 42 ]
