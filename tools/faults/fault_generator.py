#!/usr/bin/env python3
"""Mechanical faults for tools/faults/fault_injection.sh --generate, and the map from
each product source file to the ctest tests that run its code.

  fault_generator.py sites                      every site, one a line
  fault_generator.py list SEED COUNT            the sample of a seed
  fault_generator.py write SEED COUNT FOLDER    the sample as patches in FOLDER
  fault_generator.py check-map BUILD_DIR        every source file mapped, every mapped test real

A site is one place where one fixed operator changes the code:

  relational     <  <=  >  >=  ==  != moved by one or flipped (< and <=, == and !=)
  logical        && and || exchanged
  negate         the condition of an if or while negated
  constant       an integer literal plus or minus one
  call_removed   a statement that is only a call, removed
  early_return   a constant returned at the top of a function body
  swap           two adjacent arguments of one type exchanged (literals of one
                 kind, or names declared with the same type in the function or
                 at namespace scope of the file)

Comments, string literals, preprocessor lines, code the product build leaves
out (#if branches it does not take), static_assert and the benchmark's timing
marks are not sites. A fault's id is the file, a digest of its line's text,
the operator and the variant, so it stays the same while that line does.

A sample draws an operator for each fault, all that have sites left equally
likely, then one of its sites; at most one fault a source line. The same seed
gives the same sample of the same sources. QV_FAULT_FOLDERS (product folders,
separated by commas, e.g. "release,ui") keeps the sites to those folders;
the map is still checked for every product folder.
"""

import collections
import difflib
import hashlib
import os
import random
import re
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
PRODUCT_FOLDERS = ["pipeline", "net", "report", "files", "ui", "release"]
TEST_MAP = REPO / "tests/faults/test_map.txt"
INJECTED = REPO / "tests/faults/injected"
EQUIVALENT = REPO / "tests/faults/equivalent.txt"

# Macros the product build defines that any #if of the sources tests.
DEFINED_MACROS = set()
# Calls that only feed the benchmark build (empty inline functions in the product).
LOGGING_CALLS = {"MarkPaint", "MarkProgressRecord", "MarkStartupStep", "OutputDebugStringW", "OutputDebugStringA"}
# Calls whose first two arguments may be exchanged without any change.
SYMMETRIC_CALLS = {"min", "max", "swap", "hypot", "gcd", "lcm", "equivalent", "MulDiv"}
KEYWORDS = {
    "alignas", "alignof", "auto", "bool", "break", "case", "catch", "char", "class", "const", "constexpr",
    "const_cast", "continue", "decltype", "default", "delete", "do", "double", "dynamic_cast", "else", "enum",
    "explicit", "extern", "false", "float", "for", "friend", "goto", "if", "inline", "int", "long", "mutable",
    "namespace", "new", "noexcept", "nullptr", "operator", "private", "protected", "public", "reinterpret_cast",
    "return", "short", "signed", "sizeof", "static", "static_assert", "static_cast", "struct", "switch",
    "template", "this", "throw", "true", "try", "typedef", "typename", "union", "unsigned", "using", "virtual",
    "void", "volatile", "while", "co_await", "co_return", "requires", "concept", "consteval", "constinit",
}
TYPE_LIKE = {"const", "volatile", "unsigned", "signed", "long", "short", "int", "char", "bool", "void", "double",
             "float", "auto", "typename", "struct", "class", "wchar_t", "char8_t", "char16_t", "char32_t"}
SPECIFIERS = {"static", "inline", "constexpr", "consteval", "extern", "virtual", "explicit", "friend",
              "CALLBACK", "WINAPI", "APIENTRY", "STDMETHODCALLTYPE", "__stdcall"}
INTEGER_TYPES = {
    "int", "long", "unsigned", "unsigned int", "long long", "unsigned long", "unsigned long long", "short",
    "DWORD", "UINT", "LONG", "ULONG", "WORD", "LRESULT", "LONG_PTR", "ULONG_PTR", "INT_PTR", "UINT_PTR",
    "size_t", "std::size_t", "std::ptrdiff_t", "std::uint8_t", "std::uint16_t", "std::uint32_t",
    "std::uint64_t", "std::int8_t", "std::int16_t", "std::int32_t", "std::int64_t", "uint32_t", "uint64_t",
    "int64_t", "LPARAM", "WPARAM",
}
HANDLE_TYPES = {"HWND", "HANDLE", "HMODULE", "HINSTANCE", "HFONT", "HBITMAP", "HDC", "HBRUSH", "HPEN",
                "HMONITOR", "HICON", "HINTERNET", "FARPROC", "HGDIOBJ"}
EMPTY_TYPES = re.compile(r"^(std::(w?string|vector<.*>|optional<.*>|filesystem::path))$")

RELATIONAL = {"<": [("le", "<=")], "<=": [("lt", "<")], ">": [("ge", ">=")], ">=": [("gt", ">")],
              "==": [("ne", "!=")], "!=": [("eq", "==")]}
OPERATORS = ["relational", "logical", "negate", "constant", "call_removed", "early_return", "swap"]


# ---------------------------------------------------------------- the lexer

class Token:
    __slots__ = ("kind", "text", "line", "col", "index", "mark")

    def __init__(self, kind, text, line, col):
        self.kind, self.text, self.line, self.col = kind, text, line, col
        self.index = 0
        self.mark = None  # "template_open", "template_close", "reference"

    def __repr__(self):
        return f"{self.kind}:{self.text}@{self.line}:{self.col}"


PUNCTUATORS = sorted(["<<=", ">>=", "...", "->*", "<=>", "::", "->", "++", "--", "<<", ">>", "<=", ">=", "==", "!=",
                      "&&", "||", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", ".*", "[[", "]]"],
                     key=len, reverse=True)
STRING_PREFIX = re.compile(r'(u8|u|U|L)?(["\'])')
NUMBER = re.compile(r"(0[xX][0-9a-fA-F']+|0[bB][01']+|\d[\d']*(\.\d*)?([eE][+-]?\d+)?|\.\d+([eE][+-]?\d+)?)"
                    r"[uUlLfF]*")
IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z_0-9]*")


def directive_active(text):
    """Whether the lines after #if/#ifdef/#ifndef are built in the product; None when unknown."""
    words = text.lstrip("#").split()
    if not words:
        return None
    name = words[0]
    rest = " ".join(words[1:])
    if name == "ifdef":
        return rest in DEFINED_MACROS
    if name == "ifndef":
        return rest not in DEFINED_MACROS
    match = re.fullmatch(r"(!?)\s*defined\s*\(?\s*(\w+)\s*\)?", rest)
    if name == "if" and match:
        return (match.group(2) in DEFINED_MACROS) != bool(match.group(1))
    return None


def lex(text):
    """Tokens of the code the product builds: no comments, no preprocessor lines, no dead #if branches."""
    tokens = []
    lines = text.split("\n")
    # Each open #if: [active now, this branch taken before]
    conditions = []
    in_block_comment = False
    for number, line in enumerate(lines, 1):
        position = 0
        if not in_block_comment and line.lstrip().startswith("#"):
            directive = line.strip()
            word = directive.lstrip("#").split()[0] if directive.lstrip("#").split() else ""
            if word in ("if", "ifdef", "ifndef"):
                active = directive_active(directive)
                conditions.append([active, active])
            elif word == "else" and conditions:
                taken = conditions[-1][1]
                conditions[-1][0] = None if taken is None else not taken
            elif word == "elif" and conditions:
                conditions[-1][0] = None
            elif word == "endif" and conditions:
                conditions.pop()
            continue
        live = all(condition[0] is True for condition in conditions)
        while position < len(line):
            if in_block_comment:
                end = line.find("*/", position)
                if end < 0:
                    position = len(line)
                    break
                in_block_comment = False
                position = end + 2
                continue
            character = line[position]
            if character.isspace():
                position += 1
                continue
            if line.startswith("//", position):
                break
            if line.startswith("/*", position):
                in_block_comment = True
                position += 2
                continue
            match = STRING_PREFIX.match(line, position)
            if match:
                quote = match.group(2)
                end = position + len(match.group(0))
                while end < len(line) and line[end] != quote:
                    end += 2 if line[end] == "\\" else 1
                token = Token("str" if quote == '"' else "chr", line[position:end + 1], number, position)
                position = end + 1
            elif character.isdigit() or (character == "." and position + 1 < len(line) and line[position + 1].isdigit()):
                match = NUMBER.match(line, position)
                token = Token("num", match.group(0), number, position)
                position = match.end()
            elif IDENTIFIER.match(line, position):
                match = IDENTIFIER.match(line, position)
                token = Token("id", match.group(0), number, position)
                position = match.end()
            else:
                for punctuator in PUNCTUATORS:
                    if line.startswith(punctuator, position):
                        break
                else:
                    punctuator = character
                token = Token("op", punctuator, number, position)
                position += len(punctuator)
            if live:
                tokens.append(token)
    for index, token in enumerate(tokens):
        token.index = index
    return tokens


def split_closers(tokens):
    """>> as two closers where it closes two template argument lists (std::vector<std::vector<int>>)."""
    result = []
    for token in tokens:
        if token.text == ">>":
            first = Token("op", ">", token.line, token.col)
            second = Token("op", ">", token.line, token.col + 1)
            first.mark = second.mark = "split"
            result += [first, second]
        else:
            result.append(token)
    for index, token in enumerate(result):
        token.index = index
    return result


TEMPLATE_INSIDE = {"::", ",", "*", "&", "&&", "(", ")", "...", "[", "]"}


def mark_templates(tokens):
    """Marks the < and > that open and close template argument lists, and the && of references."""
    for index, token in enumerate(tokens):
        if token.text != "<" or token.mark:
            continue
        previous = tokens[index - 1] if index else None
        if previous is None or previous.kind != "id" or previous.text == "operator":
            continue
        depth, cursor = 0, index
        while cursor < len(tokens):
            candidate = tokens[cursor]
            if candidate.text == "<":
                depth += 1
            elif candidate.text == ">":
                depth -= 1
                if depth == 0:
                    break
            elif candidate.text in (";", "{", "}", "&&", "||", "==", "!=", "<=", ">=", "?", "=", "+", "-", "/", "%"):
                cursor = None
                break
            elif candidate.kind in ("id", "num") or candidate.text in TEMPLATE_INSIDE:
                pass
            else:
                cursor = None
                break
            cursor += 1
        if cursor is None or cursor >= len(tokens):
            continue
        # Between them only names, numbers and punctuation of types: a template argument list.
        for inner in tokens[index:cursor + 1]:
            if inner.text == "<" and not inner.mark:
                inner.mark = "template_open"
            elif inner.text == ">" and inner.mark in (None, "split"):
                inner.mark = "template_close"
        token.mark = "template_open"
        tokens[cursor].mark = "template_close"
    for index, token in enumerate(tokens):
        if token.text != "&&":
            continue
        previous = tokens[index - 1]
        following = tokens[index + 1] if index + 1 < len(tokens) else None
        type_name = previous.kind == "id" and (previous.text in TYPE_LIKE or previous.text[0].isupper()
                                               and not re.fullmatch(r"k[A-Z]\w*|[A-Z_0-9]+", previous.text))
        if previous.mark == "template_close" or type_name or (following is not None and following.text in (")", ",")):
            token.mark = "reference"


# ------------------------------------------------------------ the structure

class Scope:
    __slots__ = ("kind", "open_token", "head", "close_index", "function")

    def __init__(self, kind, open_token, head):
        self.kind, self.open_token, self.head = kind, open_token, head
        self.close_index = None
        self.function = None  # the enclosing function scope


def statement_head(tokens, index):
    """The tokens in front of the token at index back to the previous ; { or } (at the same nesting)."""
    depth = 0
    cursor = index - 1
    while cursor >= 0:
        text = tokens[cursor].text
        if text in (")", "]"):
            depth += 1
        elif text in ("(", "["):
            if depth == 0:
                break
            depth -= 1
        elif depth == 0 and text in (";", "{", "}"):
            break
        cursor -= 1
    return tokens[cursor + 1:index]


def is_lambda(head):
    """A lambda's introducer and parameters: [captures] or [captures](parameters) with specifiers."""
    texts = [token.text for token in head]
    if texts[-1:] == ["]"]:
        return True
    if "[" not in texts or ")" not in texts:
        return False
    closing = len(texts) - 1 - texts[::-1].index(")")
    return all(text in ("mutable", "noexcept", "constexpr", "->") or head[i].kind == "id"
               for i, text in enumerate(texts[closing + 1:], closing + 1)) and "]" in texts[:closing]


def classify_brace(tokens, index, enclosing):
    """What the { at index opens: namespace, class, enum, function, lambda, block, or init (braced values)."""
    head = statement_head(tokens, index)
    texts = [token.text for token in head]
    previous = tokens[index - 1] if index else None
    if head and is_lambda(head) and enclosing != "namespace":
        return "lambda"
    if enclosing == "init":
        return "init"
    if "namespace" in texts or texts[:1] == ["extern"] and len(head) == 2 and head[1].kind == "str":
        return "namespace"
    kind_word = next((text for text in texts if text in ("enum", "struct", "class", "union")), None)
    if kind_word and "(" not in texts and "=" not in texts:
        return "enum" if kind_word == "enum" else "class"
    if enclosing in ("namespace", "class"):
        if "(" in texts and "=" not in texts[:texts.index("(")]:
            return "function"
        return "init"
    if previous is not None and (previous.text in ("(", ",", "=", "return", "<<", "?", "[", "{")
                                 or previous.mark == "template_close"
                                 or previous.kind == "id" and previous.text not in ("else", "try", "do")):
        return "init"
    return "block"


def structure(tokens):
    """The scope each token lies in, and every scope; a scope's function is the function or lambda it lies in."""
    stack = [Scope("namespace", None, [])]
    scope_of = []
    scopes = []
    for index, token in enumerate(tokens):
        if token.text == "{":
            kind = classify_brace(tokens, index, stack[-1].kind)
            scope = Scope(kind, token, statement_head(tokens, index))
            scope.function = scope if kind in ("function", "lambda") else stack[-1].function
            stack.append(scope)
            scopes.append(scope)
        elif token.text == "}" and len(stack) > 1:
            scope_of.append(stack[-1])
            stack[-1].close_index = index
            stack.pop()
            continue
        scope_of.append(stack[-1])
    return scope_of, scopes


def matching(tokens, index, opening, closing):
    depth = 0
    for cursor in range(index, len(tokens)):
        if tokens[cursor].text == opening:
            depth += 1
        elif tokens[cursor].text == closing:
            depth -= 1
            if depth == 0:
                return cursor
    return None


# ---------------------------------------------------------------- the sites

class Fault:
    """new_lines replace the old_count source lines from line on."""

    def __init__(self, path, line, operator, variant, new_lines, description, old_count):
        self.path, self.line, self.operator, self.variant = path, line, operator, variant
        self.new_lines, self.old_count, self.description = new_lines, old_count, description
        self.id = ""
        self.old_lines = []


def edit_line(text, edits):
    """Applies (column, length, replacement) edits to one line, right to left."""
    for column, length, replacement in sorted(edits, reverse=True):
        text = text[:column] + replacement + text[column + length:]
    return text


def integer_variants(text):
    match = re.fullmatch(r"(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)", text)
    if not match:
        return []
    digits, suffix = match.groups()
    if digits.startswith(("0x", "0X")):
        value = int(digits, 16)
        width = len(digits) - 2
        upper = any(c in "ABCDEF" for c in digits[2:]) or not any(c in "abcdef" for c in digits[2:])

        def show(number):
            shown = format(number, "X" if upper else "x").rjust(width, "0")
            return digits[:2] + shown + suffix
    else:
        if len(digits) > 1 and digits.startswith("0"):
            return []  # octal
        value = int(digits)

        def show(number):
            return str(number) + suffix
    variants = [("plus", show(value + 1))]
    if value > 0:
        variants.append(("minus", show(value - 1)))
    return variants


def declared_types(tokens, scope_of, function_scope, before_index):
    """Types of the names declared in the function (head included) and at namespace scope, before before_index."""
    types = {}
    start = function_scope.head[0].index if function_scope is not None and function_scope.head else 0
    for cursor in range(0, before_index):
        token = tokens[cursor]
        if token.kind != "id" or cursor + 1 >= len(tokens):
            continue
        in_function = cursor >= start and (function_scope is None or cursor <= (function_scope.close_index or before_index))
        at_namespace = scope_of[cursor].kind == "namespace"
        if not (in_function or at_namespace):
            continue
        if tokens[cursor + 1].text not in ("=", ";", ",", ")", "{", "[", ":"):
            continue
        # Walk back over the type: names, ::, template arguments, const, & and *.
        back = cursor - 1
        parts = []
        depth = 0  # inside how many template argument lists, walking backwards
        while back >= 0:
            token_back = tokens[back]
            text = token_back.text
            if token_back.mark in ("template_close", "split"):
                depth += 1
            elif token_back.mark == "template_open":
                depth -= 1
            elif token_back.kind == "id":
                if text in ("return", "case", "else", "throw", "new", "delete"):
                    break
            elif token_back.mark == "reference":
                text = "&&"
            elif not (text in ("::", "*", "&") or text == "," and depth > 0):
                break
            parts.append(text)
            back -= 1
        if not parts:
            continue
        previous = tokens[back].text if back >= 0 else ";"
        if previous not in ("(", ",", ";", "{", "}", ":"):
            continue
        # const and & stay: a const name passed where a reference may change it does not compile.
        words = ["const" if part == "constexpr" else part for part in reversed(parts)
                 if part not in ("static", "inline")]
        if not words or "auto" in words or words[-1] == "::" or words == ["const"]:
            continue
        types[token.text] = " ".join(words)
    return types


def top_level_arguments(tokens, open_index, close_index):
    """The argument token ranges of a call between its parentheses."""
    arguments = []
    depth = 0
    start = open_index + 1
    for cursor in range(open_index + 1, close_index):
        text = tokens[cursor].text
        if text in ("(", "[", "{") or tokens[cursor].mark == "template_open":
            depth += 1
        elif text in (")", "]", "}") or tokens[cursor].mark in ("template_close",):
            depth -= 1
        elif text == "," and depth == 0:
            arguments.append((start, cursor))
            start = cursor + 1
    if start < close_index:
        arguments.append((start, close_index))
    return arguments


def return_constants(head):
    """The constants an early return may give for a function head, or None."""
    texts = [token.text for token in head]
    if "template" in texts or "operator" in texts or "(" not in texts:
        return None
    opening = texts.index("(")
    # The name: the identifier (qualified or not) right before the parameter list.
    name_start = opening - 1
    while name_start - 2 >= 0 and texts[name_start - 1] == "::" and head[name_start - 2].kind == "id":
        name_start -= 2
    if name_start < 0 or head[name_start].kind != "id":
        return None
    words = []
    skip = False
    for token in head[:name_start]:
        if token.text == "[[":
            skip = True
        elif token.text == "]]":
            skip = False
        elif not skip and token.text not in SPECIFIERS:
            words.append(token.text)
    if not words or "~" in texts[:opening]:
        return None
    if "(" in words:
        return None
    type_text = "".join(word if word in ("::", "<", ">", "*", "&", ",") else " " + word for word in words).strip()
    type_text = re.sub(r"\s*(::|<|>|\*|&|,)\s*", r"\1", type_text).replace(",", ", ")
    if type_text.startswith("const ") and not type_text.endswith(("&", "*")):
        type_text = type_text[len("const "):]
    if type_text.endswith("&"):
        return None
    if type_text == "void":
        return [("void", "return;")]
    if type_text == "bool":
        return [("false", "return false;"), ("true", "return true;")]
    if type_text == "BOOL":
        return [("false", "return FALSE;")]
    if type_text == "HRESULT":
        return [("s_ok", "return S_OK;")]
    if type_text in INTEGER_TYPES:
        return [("zero", "return 0;")]
    if type_text in ("double", "float"):
        return [("zero", "return 0;")]
    if type_text.endswith("*") or type_text in HANDLE_TYPES:
        return [("nullptr", "return nullptr;")]
    if EMPTY_TYPES.match(type_text):
        return [("empty", "return {};")]
    return None


def is_constant_context(tokens, index):
    """A number in a place where another value does not compile or means nothing: = 0 of a pure function, static_assert."""
    previous = tokens[index - 1] if index else None
    if previous is not None and previous.text == "=" and index >= 2 and tokens[index - 2].text in (")", "const", "override", "noexcept"):
        return True
    return False


def enum_values(tokens, scope_of, index):
    """The literals of the enumeration that the token at index lies in."""
    scope = scope_of[index]
    start, end = scope.open_token.index, scope.close_index or len(tokens)
    return {token.text for token in tokens[start:end] if token.kind == "num"}


def statement_tokens(tokens, start):
    """The index of the ; that ends the statement beginning at start (outside brackets), or None."""
    depth = 0
    for cursor in range(start, len(tokens)):
        text = tokens[cursor].text
        if text in ("(", "[", "{"):
            depth += 1
        elif text in (")", "]", "}"):
            depth -= 1
            if depth < 0:
                return None
        elif text == ";" and depth == 0:
            return cursor
    return None


def find_sites(path, text):
    """Every fault of every operator in one source file, with its id."""
    tokens = split_closers(lex(text))
    mark_templates(tokens)
    scope_of, scopes = structure(tokens)
    lines = text.split("\n")
    faults = []

    skipped_lines = set()
    for index, token in enumerate(tokens):
        if token.text in ("static_assert", "assert") or token.text in LOGGING_CALLS:
            end = statement_tokens(tokens, index) or index
            for line in range(token.line, tokens[end].line + 1):
                skipped_lines.add(line)

    def in_code(index):
        return scope_of[index].function is not None and scope_of[index].kind not in ("class", "enum", "namespace")

    def add(line, operator, variant, new_text, description, old_count=1):
        if line in skipped_lines:
            return
        faults.append(Fault(path, line, operator, variant, new_text if isinstance(new_text, list) else [new_text],
                            description, old_count))

    per_line = collections.defaultdict(collections.Counter)

    def occurrence(line, kind):
        per_line[line][kind] += 1
        return per_line[line][kind]

    for index, token in enumerate(tokens):
        line_text = lines[token.line - 1]
        # Relational operators.
        if token.text in RELATIONAL and token.mark is None and tokens[index - 1].text != "operator":
            count = occurrence(token.line, "relational")
            for name, replacement in RELATIONAL[token.text]:
                new = edit_line(line_text, [(token.col, len(token.text), replacement)])
                add(token.line, "relational", f"{count}.{name}", new, f"{token.text} becomes {replacement}")
        # && and ||.
        elif token.text in ("&&", "||") and token.mark is None:
            count = occurrence(token.line, "logical")
            replacement = "||" if token.text == "&&" else "&&"
            new = edit_line(line_text, [(token.col, 2, replacement)])
            add(token.line, "logical", str(count), new, f"{token.text} becomes {replacement}")
        # Integer constants.
        elif token.kind == "num":
            if is_constant_context(tokens, index):
                continue
            count = occurrence(token.line, "constant")
            # An enumerator moved onto another's value breaks every switch over the enumeration.
            taken = enum_values(tokens, scope_of, index) if scope_of[index].kind == "enum" else set()
            for name, replacement in integer_variants(token.text):
                if replacement in taken:
                    continue
                new = edit_line(line_text, [(token.col, len(token.text), replacement)])
                add(token.line, "constant", f"{count}.{name}", new, f"{token.text} becomes {replacement}")
        # Negated conditions.
        elif token.text in ("if", "while") and in_code(index) and index + 1 < len(tokens) and tokens[index + 1].text == "(":
            count = occurrence(token.line, "negate")
            opening = index + 1
            closing = matching(tokens, opening, "(", ")")
            if closing is None or tokens[closing].line != token.line or closing == opening + 1:
                continue
            if tokens[index - 1].text == "}" and tokens[index].text == "while":
                continue  # do ... while
            inner = tokens[opening + 1:closing]
            depth = 0
            plain = True
            for inner_token in inner:
                if inner_token.text in ("(", "[", "{"):
                    depth += 1
                elif inner_token.text in (")", "]", "}"):
                    depth -= 1
                elif depth == 0 and inner_token.text in (";", "=", ":"):
                    plain = False
            if not plain or inner[0].text == "constexpr":
                continue
            first, last = inner[0], inner[-1]
            start, end = first.col, last.col + len(last.text)
            condition = line_text[start:end]
            if first.text == "!" and primary_expression(inner[1:]):
                new = edit_line(line_text, [(first.col, 1, "")])
                description = f"if ({condition}) becomes if ({condition[1:].lstrip()})"
            elif primary_expression(inner):
                new = edit_line(line_text, [(start, 0, "!")])
                description = f"({condition}) becomes (!{condition})"
            else:
                new = edit_line(line_text, [(end, 0, ")"), (start, 0, "!(")])
                description = f"({condition}) becomes (!({condition}))"
            add(token.line, "negate", str(count), new, description)
        # Argument swaps.
        if token.kind == "id" and token.text not in KEYWORDS and in_code(index) and index + 1 < len(tokens) \
                and tokens[index + 1].text == "(" and tokens[index - 1].text not in ("operator",):
            closing = matching(tokens, index + 1, "(", ")")
            if closing is None or tokens[closing].line != token.line:
                continue
            arguments = top_level_arguments(tokens, index + 1, closing)
            count = occurrence(token.line, "call")
            if len(arguments) < 2:
                continue
            types = None
            for position in range(len(arguments) - 1):
                left = tokens[arguments[position][0]:arguments[position][1]]
                right = tokens[arguments[position + 1][0]:arguments[position + 1][1]]
                if len(left) != 1 or len(right) != 1 or left[0].text == right[0].text or \
                        position == 0 and token.text in SYMMETRIC_CALLS:
                    continue
                a, b = left[0], right[0]
                same = False
                if a.kind == b.kind and a.kind in ("num", "chr"):
                    same = bool(integer_variants(a.text)) == bool(integer_variants(b.text))
                elif a.kind == b.kind == "str":
                    same = STRING_PREFIX.match(a.text).group(1) == STRING_PREFIX.match(b.text).group(1)
                elif a.kind == b.kind == "id" and a.text not in KEYWORDS and b.text not in KEYWORDS:
                    if types is None:
                        types = declared_types(tokens, scope_of, scope_of[index].function, index)
                    same = a.text in types and types.get(a.text) == types.get(b.text)
                if not same:
                    continue
                new = edit_line(line_text, [(a.col, len(a.text), b.text), (b.col, len(b.text), a.text)])
                add(token.line, "swap", f"{count}.{position + 1}", new,
                    f"{token.text}(.., {a.text}, {b.text}, ..) becomes {token.text}(.., {b.text}, {a.text}, ..)")

    # Call statements removed.
    for index, token in enumerate(tokens):
        if token.kind != "id" or token.text in KEYWORDS or not in_code(index) or scope_of[index].kind == "init":
            continue
        previous = tokens[index - 1].text if index else ";"
        if previous not in (";", "{", "}"):
            continue
        if previous == "}" and scope_of[tokens[index - 1].index].kind == "init":
            continue
        end = statement_tokens(tokens, index)
        if end is None:
            continue
        statement = tokens[index:end]
        if not call_chain(statement) or any(t.text in LOGGING_CALLS for t in statement):
            continue
        first_line, last_line = token.line, tokens[end].line
        before = lines[first_line - 1][:token.col]
        after = lines[last_line - 1][tokens[end].col + 1:]
        if before.strip() or after.strip():
            continue
        # The next token must not be an else: removing the only statement of an if would change its else.
        if end + 1 < len(tokens) and tokens[end + 1].text == "else":
            continue
        name = next(t.text for t in reversed(statement[:[t.text for t in statement].index("(")]) if t.kind == "id")
        add(first_line, "call_removed", "1", [], f"the call of {name} removed", old_count=last_line - first_line + 1)

    # Early returns of a constant.
    for scope in scopes:
        if scope.kind != "function" or scope.close_index is None:
            continue
        constants = return_constants(scope.head)
        if not constants:
            continue
        brace = scope.open_token
        if scope.close_index == brace.index + 1:
            continue
        line_text = lines[brace.line - 1]
        following = tokens[brace.index + 1]
        for name, statement in constants:
            if following.line == brace.line:
                new = [edit_line(line_text, [(brace.col + 1, 0, " " + statement)])]
                add(brace.line, "early_return", name, new, f"{statement} at the top of the function")
            else:
                indent = re.match(r"\s*", lines[following.line - 1]).group(0)
                new = [line_text, indent + statement]
                add(brace.line, "early_return", name, new, f"{statement} at the top of the function")

    # Stable ids: the file, a digest of the line's text (with its count among equal lines), operator, variant.
    seen = collections.Counter()
    digest_of = {}
    for number, line in enumerate(lines, 1):
        key = line.strip()
        seen[key] += 1
        digest = hashlib.sha1(key.encode()).hexdigest()[:8]
        digest_of[number] = digest if seen[key] == 1 else f"{digest}.{seen[key]}"
    for fault in faults:
        fault.id = f"{path}@{digest_of[fault.line]}:{fault.operator}.{fault.variant}"
        fault.old_lines = lines[fault.line - 1:fault.line - 1 + fault.old_count]
    unique = {}
    for fault in faults:
        unique.setdefault(fault.id, fault)
    return list(unique.values())


def primary_expression(tokens):
    """A name, member access or call chain: negated with ! alone."""
    return call_chain(tokens, require_call=False)


def call_chain(tokens, require_call=True):
    """Tokens of name(::name|.name|->name|(args)|[index])*, ending with a call when require_call."""
    if not tokens or tokens[0].kind != "id" and tokens[0].text != "::":
        return False
    cursor = 1 if tokens[0].text == "::" else 0
    last_was_call = False
    expect_name = True
    while cursor < len(tokens):
        token = tokens[cursor]
        if expect_name:
            if token.kind != "id" or token.text in KEYWORDS and token.text not in ("this",):
                return False
            expect_name = False
            last_was_call = False
            cursor += 1
        elif token.text in ("::", ".", "->"):
            expect_name = True
            cursor += 1
        elif token.text in ("(", "["):
            closing = matching(tokens, cursor, token.text, ")" if token.text == "(" else "]")
            if closing is None:
                return False
            last_was_call = token.text == "("
            cursor = closing + 1
        else:
            return False
    return not expect_name and (last_was_call or not require_call)


# ------------------------------------------------------------ the products

# The body of the benchmark build's timing marks: linked into no product and no
# test, so no fault in it could be seen.
BENCHMARK_ONLY = {"ui/bench_marks.cpp"}


def product_sources():
    files = []
    for folder in PRODUCT_FOLDERS:
        files += sorted(p for p in (REPO / folder).glob("*")
                        if p.suffix in (".cpp", ".h") and p.relative_to(REPO).as_posix() not in BENCHMARK_ONLY)
    return files


def site_folders():
    """The product folders whose sites a sample draws from: QV_FAULT_FOLDERS, or all of them."""
    named = [folder.strip().strip("/") for folder in os.environ.get("QV_FAULT_FOLDERS", "").split(",")]
    named = [folder for folder in named if folder]
    unknown = [folder for folder in named if folder not in PRODUCT_FOLDERS]
    if unknown:
        sys.exit(f"QV_FAULT_FOLDERS names {', '.join(unknown)}: not among the product folders "
                 f"{', '.join(PRODUCT_FOLDERS)}")
    return named or PRODUCT_FOLDERS


def all_sites(folders=None):
    """Every site of the folders (by default those a sample draws from)."""
    faults = []
    folders = folders or site_folders()
    for source in (path for path in product_sources() if path.parent.relative_to(REPO).as_posix() in folders):
        relative = source.relative_to(REPO).as_posix()
        faults += find_sites(relative, source.read_text(encoding="utf-8"))
    return sorted(faults, key=lambda fault: fault.id)


def sample(seed, count):
    """COUNT faults picked by the seed, in the order picked. Drawing the operator first keeps the
    many integer constants from crowding out the few swaps."""
    generator = random.Random(seed)
    by_operator = collections.defaultdict(list)
    for fault in all_sites():
        by_operator[fault.operator].append(fault)
    chosen, lines = [], set()
    while len(chosen) < count:
        operators = [name for name in OPERATORS if by_operator[name]]
        if not operators:
            break
        sites = by_operator[generator.choice(operators)]
        fault = sites.pop(generator.randrange(len(sites)))
        if (fault.path, fault.line) not in lines:
            lines.add((fault.path, fault.line))
            chosen.append(fault)
    return chosen


def read_test_map():
    """{source file: [ctest names]} from tests/faults/test_map.txt, with the line of each entry."""
    entries, where = {}, {}
    for number, line in enumerate(TEST_MAP.read_text(encoding="utf-8").splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        path, *tests = line.split()
        entries[path] = tests
        where[path] = number
    return entries, where


def read_equivalent():
    marked = {}
    if EQUIVALENT.exists():
        for line in EQUIVALENT.read_text(encoding="utf-8").splitlines():
            line = line.strip()
            if line and not line.startswith("#"):
                fault_id, _, reason = line.partition(" ")
                marked[fault_id] = reason.strip()
    return marked


def tests_regex(tests):
    return "^(" + "|".join(re.escape(test) for test in tests) + ")$"


def patch_of(fault):
    """The fault as a patch that git apply takes, with one line of context."""
    source = (REPO / fault.path).read_text(encoding="utf-8").splitlines(keepends=True)
    start, end = fault.line - 1, fault.line - 1 + fault.old_count
    changed = source[:start] + [line + "\n" for line in fault.new_lines] + source[end:]
    diff = difflib.unified_diff(source, changed, f"a/{fault.path}", f"b/{fault.path}", n=1)
    return f"diff --git a/{fault.path} b/{fault.path}\n" + "".join(diff)


def describe(fault):
    return f"{fault.path}:{fault.line} {fault.operator}: {fault.description}"


def command_list(seed, count):
    test_map, _ = read_test_map()
    marked = read_equivalent()
    for fault in sample(seed, count):
        tests = " ".join(test_map.get(fault.path, ["(unmapped)"]))
        mark = "  [equivalent]" if fault.id in marked else ""
        print(f"{fault.id}  {describe(fault)}  -> {tests}{mark}")


def command_write(seed, count, folder):
    test_map, _ = read_test_map()
    marked = read_equivalent()
    known = {fault.id for fault in all_sites(PRODUCT_FOLDERS)}
    for fault_id in sorted(set(marked) - known):
        print(f"{EQUIVALENT.relative_to(REPO)}: {fault_id} names no site now (its line changed?)", file=sys.stderr)
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.glob("*.patch"):
        old.unlink()
    for number, fault in enumerate(sample(seed, count), 1):
        tests = test_map.get(fault.path)
        if not tests:
            sys.exit(f"{fault.path} has no tests in {TEST_MAP.relative_to(REPO)}")
        header = [f"Fault: {describe(fault)}", f"Id: {fault.id}", f"Part: {fault.path}",
                  f"Tests: {tests_regex(tests)}"]
        if fault.id in marked:
            header.append(f"Equivalent: {marked[fault.id]}")
        patch = folder / f"{number:03d}-{fault.operator}.patch"
        patch.write_text("\n".join(header) + "\n" + patch_of(fault), encoding="utf-8")
        print(patch)


def command_sites():
    faults = all_sites()
    for fault in faults:
        print(f"{fault.id}  {describe(fault)}")
    counts = collections.Counter(fault.operator for fault in faults)
    print(f"# {len(faults)} sites: " + ", ".join(f"{counts[name]} {name}" for name in OPERATORS), file=sys.stderr)


def command_check_map(build_dir):
    """Every product source file maps to ctest tests that exist; every mapped file exists; every
    fault marked equivalent names a site of today's sources, and every hand-written fault applies."""
    listing = subprocess.run(["ctest", "-N"], cwd=build_dir, capture_output=True, text=True, check=True).stdout
    real_tests = set(re.findall(r"Test\s+#\d+: (\S+)", listing))
    if not real_tests:
        sys.exit(f"ctest -N in {build_dir} lists no test")
    test_map, where = read_test_map()
    map_name = TEST_MAP.relative_to(REPO).as_posix()
    problems = []
    for source in product_sources():
        relative = source.relative_to(REPO).as_posix()
        if not test_map.get(relative):
            problems.append(f"{relative} has no tests: add a line '{relative}  <ctest names of the tests that run "
                            f"its code>' to {map_name}")
    for path, tests in sorted(test_map.items()):
        if not (REPO / path).is_file():
            problems.append(f"{map_name}:{where[path]}: {path} is no product source file (removed or renamed?)")
        for test in tests:
            if test not in real_tests:
                problems.append(f"{map_name}:{where[path]}: {test} (for {path}) is not a ctest test (ctest -N)")
    known = {fault.id for fault in all_sites(PRODUCT_FOLDERS)}
    for fault_id in sorted(set(read_equivalent()) - known):
        problems.append(f"{EQUIVALENT.relative_to(REPO)}: {fault_id} names no site now (its file or line changed?)")
    patches = sorted(INJECTED.glob("*.patch"))
    for patch in patches:
        applied = subprocess.run(["git", "apply", "--check", str(patch)], cwd=REPO, capture_output=True, text=True)
        if applied.returncode != 0:
            problems.append(f"{patch.relative_to(REPO)} no longer applies: {applied.stderr.strip()}")
    for problem in problems:
        print(problem)
    if problems:
        sys.exit(1)
    print(f"{len(patches)} hand-written faults apply; {len(test_map)} source files mapped to {len({t for ts in test_map.values() for t in ts})} tests")


def main(arguments):
    if arguments[:1] == ["sites"]:
        return command_sites()
    if arguments[:1] == ["list"] and len(arguments) == 3:
        return command_list(int(arguments[1]), int(arguments[2]))
    if arguments[:1] == ["write"] and len(arguments) == 4:
        return command_write(int(arguments[1]), int(arguments[2]), arguments[3])
    if arguments[:1] == ["check-map"] and len(arguments) == 2:
        return command_check_map(arguments[1])
    sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
