#!/usr/bin/env python3
"""Builds the fuzz targets' seed corpora (tests/fuzz/corpus/<target>/) from the tests' own inputs:
the standard input of every end-to-end case, the scenarios' URLs, addresses, labels and texts, and
the scenarios themselves. Run from anywhere; it replaces the corpus folders."""
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
for name, items in seeds.items():
    folder = corpus / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for item in items:
        (folder / hashlib.sha1(item).hexdigest()).write_bytes(item)
    print(f"{name}: {len(items)} seeds")
