/* The grammar of velq scripts. Each action is one call into the code generator
   (codegen.h); the code of a construct is appended as its rule is recognised. */

%require "3.0"
%define api.pure full
%define api.prefix {velq_yy}
%define parse.error verbose
%param {yyscan_t scanner}
%parse-param {VELQ_CodeGen *gen}

/* The dangling "else": an "else" continues the innermost "if". */
%expect 1

%code top {
#include "runtime/memory.h"

/* The parser's stacks come from the engine's allocation path; when they cannot grow the
   parse fails with "memory exhausted". */
#define YYMALLOC velqAllocate
#define YYFREE velqRelease
}

%code requires {
#include <stdint.h>

class VELQ_CodeGen;
class VELQ_Instruction;
class VELQ_Value;

#ifndef YY_TYPEDEF_YY_SCANNER_T
#define YY_TYPEDEF_YY_SCANNER_T
typedef void *yyscan_t;
#endif
}

%code provides {
int velq_yylex(VELQ_YYSTYPE *value, yyscan_t scanner);
}

%code {
#include <stdlib.h>

#include <string>

#include "codegen.h"
#include "lexer.h"
#include "velq_instruction.h"
#include "velq_value.h"

/* The parse stack starts with 200 entries and doubles up to 10000. */
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000

static void velq_yyerror(yyscan_t scanner, VELQ_CodeGen *gen, const char *message) {
  gen->parserError(message);
}
}

%union {
  char *text;
  int32_t int32;
  uint32_t uint32;
  int64_t int64;
  uint64_t uint64;
  double real;
  VELQ_Value *value;
  VELQ_Instruction *instruction;
  int type;
  int count;
}

/* The order of the declarations below is the order of the tokens, in which
   syntax-error messages list the tokens expected. */
%token END 0 "$end"
%token T_ARRAY T_BREAK T_CASE T_CONTINUE T_DEFAULT T_DO T_ELSE T_EXIT T_FALSE T_FOR T_IF
%token T_NULL T_PRINT T_PRINTLN T_RETURN T_SUB T_SWITCH T_TRUE
%token T_TYPE_INT32 T_TYPE_INT64 T_TYPE_REAL T_TYPE_STRING T_TYPE_UINT32 T_TYPE_UINT64
%token T_USE T_WHILE
%token <text> T_COMPOUND_IDENTIFIER T_IDENTIFIER T_STRING
%token <int32> T_INT32
%token <uint32> T_UINT32
%token <int64> T_INT64
%token <uint64> T_UINT64
%token <real> T_REAL

/* Operator precedence, loosest first. */
%right '='
%right ':' '?'
%left '.'
%left T_OR
%left T_AND
%left '|'
%left '^'
%left '&'
%left T_IMATCH T_MATCH T_ILIKE T_LIKE T_EQ T_NE
%left '<' '>' T_GE T_LE
%left T_RSHIFT T_LSHIFT
%left '+' '-'
%left '*' '/' '%'
%right '!' '~' NEGATE
%right T_DEC T_INC
%left '[' ']' T_REF
%left T_POST_DEC T_POST_INC

%token ';' ')' ',' '{' '}' '('

%type <text> AnyIdentifier FunctionName
%type <value> Constant
%type <type> BuiltinType
%type <count> ParameterList
%type <instruction> SimpleStatementKeyword

/* What a failed parse leaves on its stack is released here. */
%destructor { velqRelease($$); } <text>
%destructor { delete $$; } <value>
%destructor { delete $$; } <instruction>

%start Script

%%

Script
  : Module
  | Expression                      { gen->expressionScript(); }
  ;

Module
  : ModuleComponent Module
  | ModuleComponent
  ;

ModuleComponent
  : Function
  | UseStatement
  ;

UseStatement
  : T_USE AnyIdentifier ';'         { gen->useModule($2); }
  ;

AnyIdentifier
  : T_IDENTIFIER
  | T_COMPOUND_IDENTIFIER
  ;

Function
  : T_SUB FunctionName { gen->beginFunction($2); } ParameterDeclaration Block
                                    { gen->endFunction(); }
  ;

ParameterDeclaration
  : IdentifierList ')'
  | ')'
  ;

IdentifierList
  : T_IDENTIFIER { gen->listName($1); } ',' IdentifierList
  | T_IDENTIFIER                    { gen->listName($1); }
  ;

Block
  : '{' StatementList '}'
  ;

StatementList
  : StatementOrBlock StatementList
  | %empty
  ;

StatementOrBlock
  : Statement
  | Block
  ;

Statement
  : Expression ';'                  { gen->expressionStatement(); }
  | BuiltinStatement
  | ';'                             { gen->emptyStatement(); }
  ;

Expression
  : '(' Expression ')'
  | T_IDENTIFIER '=' Expression     { gen->emitName(OP_SET, $1); }
  | Expression '[' Expression ']' '=' Expression
                                    { gen->emit(OP_ESET); }
  | Expression '[' Expression ']'   { gen->emit(OP_EGET); }
  | Expression T_REF T_IDENTIFIER '=' Expression
                                    { gen->emitName(OP_ASET, $3); }
  | Expression T_REF T_IDENTIFIER   { gen->emitName(OP_AGET, $3); }
  | '-' Expression %prec NEGATE     { gen->emit(OP_NEG); }
  | '!' Expression                  { gen->emit(OP_NOT); }
  | '~' Expression                  { gen->emit(OP_BITNOT); }
  | T_INC T_IDENTIFIER              { gen->emitName(OP_INCP, $2); }
  | T_DEC T_IDENTIFIER              { gen->emitName(OP_DECP, $2); }
  | T_IDENTIFIER T_INC              { gen->emitName(OP_INC, $1); }
  | T_IDENTIFIER T_DEC              { gen->emitName(OP_DEC, $1); }
  | Expression '+' Expression       { gen->emit(OP_ADD); }
  | Expression '-' Expression       { gen->emit(OP_SUB); }
  | Expression '*' Expression       { gen->emit(OP_MUL); }
  | Expression '/' Expression       { gen->emit(OP_DIV); }
  | Expression '%' Expression       { gen->emit(OP_REM); }
  | Expression T_LIKE Expression    { gen->emit(OP_LIKE); }
  | Expression T_ILIKE Expression   { gen->emit(OP_ILIKE); }
  | Expression T_MATCH Expression   { gen->emit(OP_MATCH); }
  | Expression T_IMATCH Expression  { gen->emit(OP_IMATCH); }
  | Expression T_EQ Expression      { gen->emit(OP_EQ); }
  | Expression T_NE Expression      { gen->emit(OP_NE); }
  | Expression '<' Expression       { gen->emit(OP_LT); }
  | Expression T_LE Expression      { gen->emit(OP_LE); }
  | Expression '>' Expression       { gen->emit(OP_GT); }
  | Expression T_GE Expression      { gen->emit(OP_GE); }
  | Expression '&' Expression       { gen->emit(OP_BITAND); }
  | Expression '|' Expression       { gen->emit(OP_BITOR); }
  | Expression '^' Expression       { gen->emit(OP_BITXOR); }
  | Expression T_AND Expression     { gen->emit(OP_AND); }
  | Expression T_OR Expression      { gen->emit(OP_OR); }
  | Expression T_LSHIFT Expression  { gen->emit(OP_LSHIFT); }
  | Expression T_RSHIFT Expression  { gen->emit(OP_RSHIFT); }
  | Expression '.' Expression       { gen->emit(OP_CONCAT); }
  | Expression '?' { gen->conditionalTest(); } Expression ':' { gen->conditionalElse(); } Expression
                                    { gen->conditionalEnd(); }
  | Operand
  ;

Operand
  : FunctionCall
  | TypeCast
  | T_IDENTIFIER                    { gen->emitName(OP_PUSH_VAR, $1); }
  | Constant                        { gen->emitConstant($1); }
  ;

TypeCast
  : BuiltinType '(' Expression ')'  { gen->emitCast($1); }
  ;

BuiltinType
  : T_TYPE_INT32                    { $$ = DTYPE_INT32; }
  | T_TYPE_INT64                    { $$ = DTYPE_INT64; }
  | T_TYPE_UINT32                   { $$ = DTYPE_UINT32; }
  | T_TYPE_UINT64                   { $$ = DTYPE_UINT64; }
  | T_TYPE_REAL                     { $$ = DTYPE_REAL; }
  | T_TYPE_STRING                   { $$ = DTYPE_STRING; }
  ;

BuiltinStatement
  : SimpleStatement ';'
  | PrintlnStatement
  | IfStatement
  | DoStatement
  | WhileStatement
  | SwitchStatement
  | ArrayStatement
  | T_BREAK ';'                     { gen->breakStatement(); }
  | T_CONTINUE ';'                  { gen->continueStatement(); }
  ;

SimpleStatement
  : SimpleStatementKeyword Expression
                                    { gen->simpleStatement($1, true); }
  | SimpleStatementKeyword          { gen->simpleStatement($1, false); }
  ;

SimpleStatementKeyword
  : T_EXIT                          { $$ = gen->statementKeyword(OP_EXIT); }
  | T_RETURN                        { $$ = gen->statementKeyword(OP_RET); }
  | T_PRINT                         { $$ = gen->statementKeyword(OP_PRINT); }
  ;

PrintlnStatement
  : T_PRINTLN Expression ';'        { gen->printlnStatement(true); }
  | T_PRINTLN ';'                   { gen->printlnStatement(false); }
  ;

IfStatement
  : T_IF '(' Expression ')' { gen->ifCondition(); } IfBody
  ;

IfBody
  : StatementOrBlock                { gen->ifEnd(); }
  | StatementOrBlock ElseStatement  { gen->elseEnd(); }
  ;

ElseStatement
  : T_ELSE { gen->elseStart(); } StatementOrBlock
  ;

WhileStatement
  : T_WHILE { gen->whileStart(); } '(' Expression ')' { gen->whileCondition(); } StatementOrBlock
                                    { gen->whileEnd(); }
  ;

DoStatement
  : T_DO { gen->doStart(); } StatementOrBlock T_WHILE '(' Expression ')' ';'
                                    { gen->doEnd(); }
  ;

SwitchStatement
  : T_SWITCH { gen->switchStart(); } '(' Expression ')' '{' CaseList Default '}'
                                    { gen->switchEnd(); }
  ;

CaseList
  : Case { gen->caseFallThrough(); } CaseList
  | Case                            { gen->lastCaseEnd(); }
  ;

Case
  : T_CASE Constant { gen->caseLabel($2); } ':' StatementList
  ;

Default
  : T_DEFAULT ':' StatementList
  | %empty
  ;

ArrayStatement
  : T_ARRAY { gen->beginArrayList(); } IdentifierList ';'
  ;

FunctionCall
  : FunctionName ParameterList ')'  { gen->emitCall($1, $2); }
  | FunctionName ')'                { gen->emitCall($1, 0); }
  ;

ParameterList
  : Expression ',' ParameterList    { $$ = $3 + 1; }
  | Expression                      { $$ = 1; }
  ;

FunctionName
  : T_IDENTIFIER '('
  ;

Constant
  : T_STRING                        { $$ = gen->stringConstant($1); }
  | T_INT32                         { $$ = gen->int32Constant($1); }
  | T_UINT32                        { $$ = gen->uint32Constant($1); }
  | T_INT64                         { $$ = gen->int64Constant($1); }
  | T_UINT64                        { $$ = gen->uint64Constant($1); }
  | T_REAL                          { $$ = gen->realConstant($1); }
  | T_TRUE                          { $$ = gen->int32Constant(1); }
  | T_FALSE                         { $$ = gen->int32Constant(0); }
  | T_NULL                          { $$ = gen->nullConstant(); }
  ;

%%

/* The display name of a token code, as syntax-error messages show it. */
std::string VELQ_TokenName(int token) {
  if (token <= 0) return "$end";
  const char *name = yysymbol_name(YYTRANSLATE(token));
  std::string text(name);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    text = text.substr(1, text.size() - 2);
  return text;
}
