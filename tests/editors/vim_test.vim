" Checks editors/vim: file-type detection and the syntax group at chosen places of a
" sample script. Run by vim_test.sh as
"   vim -Nu NONE -i NONE -es --cmd 'set rtp^=EDITORS_VIM' -c 'source vim_test.vim' WORK_DIR
" It writes each failure to WORK_DIR/failures and quits with an error status if any.

let s:work = argv(0)
let s:failures = []

function! s:Fail(message) abort
  call add(s:failures, a:message)
endfunction

filetype on
syntax on

" The sample: one feature per line, so that a failure names the line.
let s:sample = [
  \ '#!/usr/bin/env velq',
  \ 'use lib::net;',
  \ 'sub main(a) {',
  \ '  if (a) print 1; else println 2; while (a) { break; } return 0;',
  \ '  switch (a) { case 1: exit 3; default: continue; }',
  \ '  array names; x = int32(a) . uint64(a) . real(a) . string(a);',
  \ '  x = a like "*.log" || a imatch "^x" || true || NULL;',
  \ '  x = iffy + print$ + $1 + a1 + True;',
  \ '  x = length(a) . Split(a, ",") . MapAdd(m, a, 1) . AddrInRange(a) . $12 . lengths;',
  \ '  x = "tab\t quote\" hex\x41 kept\q two\\" + 1";',
  \ '  x = "unclosed',
  \ '  x = 42 + 0x1F + 5U + 5UL + 5LU + 5L + 5u + 1.5 + x-1 + --1;',
  \ '  x = a # b @ c;',
  \ '  /* outer /* inner */ still */ y = 1; // line comment TODO',
  \ '  #!not-a-shebang',
  \ '}',
  \ ]

" Each case: a pattern whose first match (from the top) marks the place with \zs, and
" the syntax group expected there ('' for none).
let s:cases = [
  \ ['^\zs#!', 'velqShebang'],
  \ ['\zsuse', 'velqInclude'],
  \ ['use \zslib', 'velqModuleName'],
  \ ['use lib\zs::', 'velqModuleName'],
  \ ['use lib::\zsnet', 'velqModuleName'],
  \ ['\zssub main', 'velqDefine'],
  \ ['sub \zsmain', 'velqFunctionName'],
  \ ['\zsif (a)', 'velqConditional'],
  \ ['\zsprint 1', 'velqPrint'],
  \ ['\zselse', 'velqConditional'],
  \ ['\zsprintln', 'velqPrint'],
  \ ['\zswhile', 'velqRepeat'],
  \ ['\zsbreak', 'velqStatement'],
  \ ['\zsreturn', 'velqStatement'],
  \ ['\zsswitch', 'velqConditional'],
  \ ['\zscase', 'velqLabel'],
  \ ['\zsexit', 'velqStatement'],
  \ ['\zsdefault', 'velqLabel'],
  \ ['\zsarray', 'velqType'],
  \ ['\zsint32', 'velqType'],
  \ ['\zsuint64', 'velqType'],
  \ ['\zsreal(', 'velqType'],
  \ ['\zsstring(', 'velqType'],
  \ ['\zslike', 'velqOperatorWord'],
  \ ['\zsimatch', 'velqOperatorWord'],
  \ ['\zstrue', 'velqBoolean'],
  \ ['\zsNULL', 'velqNull'],
  \ ['\zsiffy', ''],
  \ ['\zsprint\$', ''],
  \ ['+ \zs\$1', 'velqArgument'],
  \ ['\zslength(a)', 'velqBuiltin'],
  \ ['\zsSplit(a', 'velqToolkit'],
  \ ['\zsMapAdd', 'velqToolkit'],
  \ ['\zsAddrInRange', 'velqBuiltin'],
  \ ['\zs\$12', 'velqArgument'],
  \ ['\zslengths', ''],
  \ ['a\zs1 ', ''],
  \ ['\zsTrue', ''],
  \ ['"tab\zs\\t', 'velqEscape'],
  \ ['"\zstab', 'velqString'],
  \ ['quote\zs\\"', 'velqEscape'],
  \ ['hex\zs\\x41', 'velqEscape'],
  \ ['kept\zs\\q', 'velqString'],
  \ ['two\zs\\\\', 'velqString'],
  \ ['two\\\zs\\"', 'velqEscape'],
  \ ['two\\\\" \zs+ 1', 'velqString'],
  \ ['\zs"unclosed', 'velqStringError'],
  \ ['"uncl\zsosed', 'velqStringError'],
  \ ['\zs42', 'velqNumber'],
  \ ['\zs0x1F', 'velqNumber'],
  \ ['5\zsU ', 'velqNumber'],
  \ ['5U\zsL', 'velqNumber'],
  \ ['5L\zsU', 'velqNumber'],
  \ ['5\zsu', ''],
  \ ['\zs1\.5', 'velqFloat'],
  \ ['1\.\zs5', 'velqFloat'],
  \ ['x\zs-1', 'velqNumber'],
  \ ['\zs--1', 'velqOperator'],
  \ ['--\zs1', 'velqNumber'],
  \ ['a \zs# b', 'velqError'],
  \ ['\zs@ c', 'velqError'],
  \ ['\zs/\* outer', 'velqBlockComment'],
  \ ['inner \*/ \zsstill', 'velqBlockComment'],
  \ ['still \zs\*/', 'velqBlockComment'],
  \ ['\zsy = 1', ''],
  \ ['\zs// line', 'velqLineComment'],
  \ ['\zsTODO', 'velqTodo'],
  \ ['^  \zs#!not', 'velqError'],
  \ ]

call writefile(s:sample, s:work . '/sample.velq')
" A file without the extension, found by its first line.
call writefile(['#!/usr/bin/env velq', 'sub main() { }'], s:work . '/script')
call writefile(['#!/bin/sh', 'echo'], s:work . '/other')

execute 'edit ' . fnameescape(s:work . '/script')
if &filetype !=# 'velq'
  call s:Fail('a file starting with #!/usr/bin/env velq gets the file type "' . &filetype . '"')
endif
execute 'edit ' . fnameescape(s:work . '/other')
if &filetype ==# 'velq'
  call s:Fail('a shell script gets the file type velq')
endif

" Only errors from loading the velq files count; other file types' syntax files are
" not this test's business.
let v:errmsg = ''
execute 'edit ' . fnameescape(s:work . '/sample.velq')
if &filetype !=# 'velq'
  call s:Fail('sample.velq gets the file type "' . &filetype . '"')
endif
if get(b:, 'current_syntax', '') !=# 'velq'
  call s:Fail('the velq syntax is not loaded for sample.velq')
endif

for [s:pattern, s:expected] in s:cases
  call cursor(1, 1)
  let [s:line, s:column] = searchpos(s:pattern, 'cW')
  if s:line == 0
    call s:Fail('pattern not found in the sample: ' . s:pattern)
    continue
  endif
  let s:got = synIDattr(synID(s:line, s:column, 0), 'name')
  if s:got !=# s:expected
    call s:Fail(printf('line %d column %d (%s): expected "%s", got "%s"', s:line, s:column,
          \ s:pattern, s:expected, s:got))
  endif
endfor

if v:errmsg !=# ''
  call s:Fail('vim reported, loading sample.velq: ' . v:errmsg)
endif
call writefile(s:failures, s:work . '/failures')
if empty(s:failures)
  qall!
endif
cquit!
