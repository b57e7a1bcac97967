#!/usr/bin/env python3
"""Builds the fuzz targets' seed corpora (tests/fuzz/corpus/<target>/) from the tests' own inputs:
the standard input of every end-to-end case, the scenarios' URLs, addresses, labels and texts, the
scenarios themselves, and the rows of the policy tests' tables (URLs, addresses, labels, profile
names and texts around key runs). Run from anywhere; it replaces the corpus folders."""
import hashlib, json, pathlib, shutil, struct

root = pathlib.Path(__file__).resolve().parents[2]
corpus = root / "tests/fuzz/corpus"
MAX_SEED = 64 * 1024

def frame(payload: bytes) -> bytes:
    return struct.pack(">I", len(payload)) + payload

def piece(p) -> bytes:
    if "frameJson" in p: return frame(json.dumps(p["frameJson"], separators=(",", ":"), ensure_ascii=False).encode())
    if "frameText" in p: return frame(p["frameText"].encode())
    if "frameHex" in p: return frame(bytes.fromhex(p["frameHex"]))
    if "frameFill" in p: return frame(bytes([p["frameFill"]["byte"]]) * p["frameFill"]["count"])
    if "raw" in p: return bytes.fromhex(p["raw"])
    if "text" in p: return p["text"].encode()
    raise ValueError(p)

def cases():
    for path in sorted((root / "tests/cases").glob("*/*.json")):
        data = json.loads(path.read_text())
        yield from (data if isinstance(data, list) else [data])

def walk(value):
    if isinstance(value, dict):
        yield value
        for item in value.values(): yield from walk(item)
    elif isinstance(value, list):
        for item in value: yield from walk(item)

# --- Seeds from the policy tests' tables -------------------------------------------------------
# The table rows of tests/policy/*.cpp are C++ brace lists; their arguments are evaluated as far as
# they are string literals, `none`, brace lists and the few helpers the tables use (keyText,
# repeated, substr, `+`). Anything else reads as unknown and the row gives what it can.
import re

TOKEN = re.compile(r'''\s*(?:(?P<comment>//[^\n]*|/\*.*?\*/)|(?P<str>(?:u8)?"(?:\\.|[^"\\])*")|(?P<chr>'(?:\\.|[^'\\])')|(?P<num>\d+)u?|'''
                   r'''(?P<id>[A-Za-z_][\w:]*)|(?P<punct>[{}(),.+]))''', re.S)

def c_string(literal: str) -> bytes:
    body, out, i = literal[literal.index('"') + 1:-1], bytearray(), 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out += c.encode(); i += 1; continue
        e = body[i + 1]
        if e == "x":
            m = re.match(r"[0-9a-fA-F]+", body[i + 2:]); out.append(int(m.group(), 16) & 0xFF); i += 2 + len(m.group())
        elif e in "uU":
            n = 4 if e == "u" else 8; out += chr(int(body[i + 2:i + 2 + n], 16)).encode(); i += 2 + n
        elif e in "01234567":
            m = re.match(r"[0-7]{1,3}", body[i + 1:]); out.append(int(m.group(), 8)); i += 1 + len(m.group())
        else:
            out += {"n": b"\n", "t": b"\t", "r": b"\r", "v": b"\v", "f": b"\f", "a": b"\a", "b": b"\b"}.get(e, e.encode()); i += 2
    return bytes(out)

def key_text(length: int, seed: str = "a") -> bytes:
    alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-"
    return bytes(alphabet[(i * 7 + ord(seed)) % len(alphabet)] for i in range(length))

class Unknown(Exception): pass

def tokens(text):
    pos, out = 0, []
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m:
            if text[pos:].strip() == "": break
            out.append(("other", text[pos])); pos += 1; continue
        pos = m.end()
        kind = m.lastgroup
        if kind != "comment": out.append((kind, m.group(kind)))
    return out

class Parser:
    def __init__(self, toks, names): self.t, self.i, self.names = toks, 0, names
    def peek(self): return self.t[self.i] if self.i < len(self.t) else (None, None)
    def take(self): tok = self.peek(); self.i += 1; return tok
    def skip_argument(self):
        depth = 0
        while self.i < len(self.t):
            kind, value = self.peek()
            if depth == 0 and value in (",", "}", ")"): return
            if value in ("{", "("): depth += 1
            if value in ("}", ")"): depth -= 1
            self.i += 1
    def argument(self):
        start = self.i
        try:
            return self.expression()
        except (Unknown, ValueError, IndexError, KeyError, TypeError, AttributeError):
            self.i = start; self.skip_argument(); return Unknown
    def expression(self):
        value = self.term()
        while self.peek()[1] == "+":
            self.take(); right = self.term()
            if not isinstance(value, bytes) or not isinstance(right, bytes): raise Unknown
            value += right
        return value
    def arguments(self):
        args = []
        if self.peek()[1] == ")": self.take(); return args
        while True:
            args.append(self.expression())
            if self.take()[1] == ")": return args
    def term(self):
        kind, value = self.take()
        if kind == "str":
            out = c_string(value)
            while self.peek()[0] == "str": out += c_string(self.take()[1])
            return self.postfix(out)
        if kind == "chr": return value[1:-1]
        if kind == "num": return int(value)
        if value == "{":
            items = []
            while self.peek()[1] != "}":
                items.append(self.argument())
                if self.peek()[1] == ",": self.take()
            self.take(); return items
        if kind == "id":
            if value in ("none", "std::nullopt"): return None
            if value in ("true", "false"): return value == "true"
            if self.peek()[1] == "(":
                self.take(); args = self.arguments()
                if value == "keyText": return self.postfix(key_text(*args))
                if value == "repeated": return self.postfix(args[0] * args[1])
                if value == "std::string" and len(args) == 2: return self.postfix(args[0][:args[1]])
                if value == "std::string" and len(args) == 1: return self.postfix(args[0])
                raise Unknown
            if value in self.names: return self.postfix(self.names[value])
        raise Unknown
    def postfix(self, value):
        while self.peek()[1] == ".":
            self.take(); _, method = self.take(); self.take(); args = self.arguments()
            if method != "substr": raise Unknown
            value = value[args[0]:args[0] + args[1]] if len(args) == 2 else value[args[0]:]
        return value

def named_values(source):
    """`const std::string NAME = EXPR;` and `const std::vector<std::string> NAME{...};` definitions."""
    names = {}
    for m in re.finditer(r"const std::(?:string|vector<std::string>) (\w+)\s*(=|\{)(.*?);[ \t]*(?://[^\n]*)?\n", source, re.S):
        text = m.group(3) if m.group(2) == "=" else "{" + m.group(3)
        parser = Parser(tokens(text), names)
        value = parser.argument()
        if value is not Unknown: names[m.group(1)] = value
    return names

def table_rows(source):
    """(test name, [row arguments]) for every table in `source`."""
    names = named_values(source)
    tests = [(m.start(), m.group(1)) for m in re.finditer(r"TEST(?:_P)?\(\w+, (\w+)\)", source)]
    for m in re.finditer(r"std::vector<Row>\{", source):
        test = max((t for t in tests if t[0] < m.start()), default=(0, ""))[1]
        parser = Parser(tokens(source[m.end():]), names)
        while parser.peek()[1] == "{":
            parser.take(); args = []
            while parser.peek()[1] != "}":
                args.append(parser.argument())
                if parser.peek()[1] == ",": parser.take()
            parser.take()
            yield test, args
            if parser.peek()[1] == ",": parser.take()

def known(value) -> bytes:
    return value if isinstance(value, bytes) else b""

def policy_seeds(seeds):
    policy = root / "tests/policy"
    for path in sorted(policy.glob("*.cpp")):
        for test, args in table_rows(path.read_text(encoding="utf-8")):
            if test == "keyRuns" and len(args) > 1 and isinstance(args[1], bytes):
                seeds["keyruns"].add(args[1])
            elif test == "httpsOrigin" and isinstance(args[0], bytes):
                seeds["origins"].add(b"example.com/x\n" + args[0])
            elif test == "addressShowsOrigin" and isinstance(args[0], bytes):
                seeds["origins"].add(args[0] + b"\nhttps://example.com")
            elif test == "originPageIndex" and len(args) > 3 and isinstance(args[2], list):
                allowed = args[3] if isinstance(args[3], list) else []
                seeds["origins"].add(b"\n".join([known(args[1])] + [known(p) for p in args[2]] + [known(a) for a in allowed]))
            elif test == "toolbarLabel" and len(args) > 2:
                seeds["labels"].add(known(args[1]) + b"\n" + known(args[2]) + b"\n")
            elif test == "isProfileAvatarLabel" and len(args) > 5:
                seeds["labels"].add(known(args[3]) + b"\n" + known(args[4]) + b"\n" + known(args[5]))
    # The differential test's neighbours of a run, on both sides of a 40-character run.
    source = (policy / "KeyRunsDifferentialTest.cpp").read_text(encoding="utf-8")
    block = re.search(r"static const std::vector<std::string> all\{(.*?)\};", source, re.S).group(1)
    neighbours = [n for n in Parser(tokens("{" + block + "}"), {}).argument() if isinstance(n, bytes)]
    for neighbour in neighbours:
        seeds["keyruns"].add(neighbour + key_text(40) + neighbour)

seeds = {name: set() for name in ("frames", "modes", "origins", "keyruns", "labels", "scenario")}
mode_byte = {(): 0, ("--key-baseline",): 1, ("--key-capture",): 2}
for case in cases():
    stdin = b"".join(piece(p) for p in case.get("stdin", []))
    if len(stdin) > MAX_SEED: continue
    args = tuple(case.get("args", []))
    # The frame maximum of the case's own mode (delivery requests, counts, key requests, clipboard).
    selector = {"--profile-window-count": 2, "--key-baseline": 3, "--key-capture": 3,
                "--copy-delivered-secret": 4}.get(args[0] if args else "", 0)
    seeds["frames"].add(bytes([selector]) + stdin)
    if args in mode_byte: seeds["modes"].add(bytes([mode_byte[args]]) + stdin)
    if isinstance(case.get("scenario"), dict):
        seeds["scenario"].add(json.dumps(case["scenario"]).encode())
    for p in case.get("stdin", []):
        request = p.get("frameJson")
        if isinstance(request, dict) and isinstance(request.get("allowedOrigins"), list):
            origins = [o for o in request["allowedOrigins"] if isinstance(o, str)]
            seeds["origins"].add("\n".join(["example.com"] + origins).encode())
scenarios = [json.loads(p.read_text()) for p in sorted((root / "tests/scenarios").glob("*.json"))]
for path in sorted((root / "tests/scenarios").glob("*.json")):
    if path.stat().st_size <= MAX_SEED: seeds["scenario"].add(path.read_bytes())
for scenario in scenarios:
    addresses, urls = [], []
    for element in walk(scenario):
        if element.get("description") == "Address and search bar" and isinstance(element.get("value"), str):
            addresses.append(element["value"])
        if isinstance(element.get("url"), str): urls.append(element["url"])
        if element.get("role") in ("AXButton", "AXPopUpButton"):
            title, description = element.get("title", ""), element.get("description", "")
            seeds["labels"].add(f"{title}\n{description}\n{title or description}".encode())
        if isinstance(element.get("value"), str) and len(element["value"]) < MAX_SEED:
            seeds["keyruns"].add(element["value"].encode())
    for address in addresses:
        seeds["origins"].add("\n".join([address] + urls[:8]).encode())
policy_seeds(seeds)
for name, items in seeds.items():
    folder = corpus / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for item in items:
        (folder / hashlib.sha1(item).hexdigest()).write_bytes(item)
    print(f"{name}: {len(items)} seeds")
