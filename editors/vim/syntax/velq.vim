" Vim syntax file for velq scripts.
" Where two items start at the same column the one defined later wins, so comments
" come after the / operator, the unclosed-string error after strings, and the first
" line's #! after the invalid characters.

if exists('b:current_syntax')
  finish
endif
let s:cpo_save = &cpo
set cpo&vim

" Names are letters, digits, _ and $: $1 is a name, and print$ is not print.
syntax iskeyword @,48-57,_,36
syntax case match

syntax keyword velqConditional if else switch
syntax keyword velqRepeat while do for
syntax keyword velqStatement break continue return exit
syntax keyword velqLabel case default
syntax keyword velqPrint print println
syntax keyword velqType array int32 int64 uint32 uint64 real string
syntax keyword velqOperatorWord like ilike match imatch
syntax keyword velqBoolean true false TRUE FALSE
syntax keyword velqNull null NULL
syntax keyword velqDefine sub nextgroup=velqFunctionName skipwhite
syntax keyword velqInclude use nextgroup=velqModuleName skipwhite
syntax match velqFunctionName contained '[A-Za-z_$][A-Za-z0-9_$]*'
" The built-in functions, and the toolkit the velq tool adds (its --help-functions),
" named as in the engine's tables; vim_test.sh checks the lists against them.
syntax keyword velqBuiltin _exit abs classof d2x exp gmtime index left length localtime log log10 lower
  \ ltrim max min pow right rindex rtrim strftime substr time trace trim typeof
  \ upper AddrInRange AddrInSubnet SecondsToUptime
syntax keyword velqToolkit ReadLine ReadFile ArgCount Arg Args PrintError GetEnv WriteFile AppendFile
  \ Count Keys Split Join Replace Fields SameText Sort Order Map MapSet MapGet
  \ MapHas MapAdd MapRemove MapKeys MapValues Utf8Length Utf8Substr Utf8Upper
  \ Utf8Lower Floor Ceil Round Sqrt Format
" The run's arguments and a match's groups: $1, $2, ...
syntax match velqArgument '\$\d\+\>'

" A compound name such as lib::net is accepted only after use.
syntax match velqModuleName contained '[A-Za-z_$][A-Za-z0-9_$]*\%(::[A-Za-z_$][A-Za-z0-9_$]*\)*'

" Characters that are no token outside literals and comments.
syntax match velqError "[#'@\\`]\|[^\t\x20-\x7e]"

syntax match velqOperator '[-+*/%=!<>&|^~?:.]\|->\|\~='

" A number may start with a minus sign written right before its digits, but not with
" a digit that continues a name (a1). Integer suffixes are upper case; reals have no
" exponent.
syntax match velqNumber '\%(-\|[A-Za-z0-9_$]\@1<!\)\%(0x\x\+\|\d\+\)\%(UL\|LU\|U\|L\)\='
syntax match velqFloat '\%(-\|[A-Za-z0-9_$]\@1<!\)\d\+\.\d\+'
" -- and ++ are operators even before a digit: --1 is a decrement of 1.
syntax match velqOperator '--\|++'

" A literal ends on its line. A backslash escapes only the letters below and a double
" quote; before anything else it is kept, so it never escapes the backslash after it.
syntax match velqEscape contained '\\\%(["0bnrt]\|x\x\{1,2}\)'
syntax region velqString start='"' end='"' oneline contains=velqEscape
" A literal without its closing quote on the line is an error.
syntax match velqStringError '"\%([^"\\]\|\\"\=\)*$'

syntax keyword velqTodo contained TODO FIXME XXX
syntax match velqLineComment '//.*$' contains=velqTodo,@Spell
" Block comments nest.
syntax region velqBlockComment start='/\*' end='\*/' contains=velqBlockComment,velqTodo,@Spell
" The tool skips a first line that starts with #!.
syntax match velqShebang '\%1l^#!.*$'

highlight default link velqConditional Conditional
highlight default link velqRepeat Repeat
highlight default link velqStatement Statement
highlight default link velqLabel Label
highlight default link velqPrint Statement
highlight default link velqType Type
highlight default link velqOperatorWord Operator
highlight default link velqOperator Operator
highlight default link velqBoolean Boolean
highlight default link velqNull Constant
highlight default link velqDefine Keyword
highlight default link velqInclude Include
highlight default link velqFunctionName Function
highlight default link velqBuiltin Function
highlight default link velqToolkit Function
highlight default link velqArgument Identifier
highlight default link velqModuleName Identifier
highlight default link velqError Error
highlight default link velqNumber Number
highlight default link velqFloat Float
highlight default link velqEscape SpecialChar
highlight default link velqString String
highlight default link velqStringError Error
highlight default link velqTodo Todo
highlight default link velqLineComment Comment
highlight default link velqBlockComment Comment
highlight default link velqShebang Comment

let b:current_syntax = 'velq'
let &cpo = s:cpo_save
unlet s:cpo_save
