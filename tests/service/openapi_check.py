"""Checks answers of vantorel-lab against its OpenAPI document (standard library only).

validate(doc, schema, value) -> list of problems ("" path means the value itself)
check(doc, method, path_template, status, body, content_type) -> list of problems

Only the part of JSON Schema the document uses is understood: $ref (local),
type with nullable, properties, required, additionalProperties (bool or a
schema), items, enum, minimum/maximum, minItems/maxItems, pattern, oneOf,
anyOf, allOf. A keyword it does not know is a problem, so the document cannot
silently grow beyond what is checked.
"""

from __future__ import annotations

import json
import re
from typing import Any, List

KNOWN = {
    "$ref", "type", "nullable", "properties", "required", "additionalProperties", "items", "enum",
    "minimum", "maximum", "minItems", "maxItems", "pattern", "oneOf", "anyOf", "allOf",
    "description", "format", "x-status",
}
TYPES = {
    "object": lambda v: isinstance(v, dict),
    "array": lambda v: isinstance(v, list),
    "string": lambda v: isinstance(v, str),
    "boolean": lambda v: isinstance(v, bool),
    "integer": lambda v: isinstance(v, int) and not isinstance(v, bool),
    "number": lambda v: isinstance(v, (int, float)) and not isinstance(v, bool),
}


def resolve(doc: dict, ref: str) -> Any:
    if not ref.startswith("#/"):
        raise ValueError(f"only local references: {ref}")
    node = doc
    for part in ref[2:].split("/"):
        node = node[part.replace("~1", "/").replace("~0", "~")]
    return node


def validate(doc: dict, schema: dict, value: Any, path: str = "") -> List[str]:
    where = path or "(value)"
    unknown = set(schema) - KNOWN
    if unknown:
        return [f"{where}: schema uses {sorted(unknown)}"]
    if "$ref" in schema:
        return validate(doc, resolve(doc, schema["$ref"]), value, path)
    if value is None and schema.get("nullable"):
        return []
    problems: List[str] = []
    kind = schema.get("type")
    if kind is not None:
        if not TYPES[kind](value):
            return [f"{where}: {json.dumps(value)[:60]} is not {kind}"]
    if "enum" in schema and value not in schema["enum"]:
        problems.append(f"{where}: {json.dumps(value)[:60]} not in {schema['enum']}")
    if TYPES["number"](value):
        if "minimum" in schema and value < schema["minimum"]:
            problems.append(f"{where}: {value} < {schema['minimum']}")
        if "maximum" in schema and value > schema["maximum"]:
            problems.append(f"{where}: {value} > {schema['maximum']}")
    if isinstance(value, str) and "pattern" in schema and not re.search(schema["pattern"], value):
        problems.append(f"{where}: {value[:60]!r} does not match {schema['pattern']}")
    if isinstance(value, list):
        if len(value) < schema.get("minItems", 0):
            problems.append(f"{where}: {len(value)} items < {schema['minItems']}")
        if "maxItems" in schema and len(value) > schema["maxItems"]:
            problems.append(f"{where}: {len(value)} items > {schema['maxItems']}")
        if "items" in schema:
            for i, item in enumerate(value):
                problems += validate(doc, schema["items"], item, f"{path}[{i}]")
    if isinstance(value, dict):
        props = schema.get("properties", {})
        for name in schema.get("required", []):
            if name not in value:
                problems.append(f"{where}: missing {name}")
        extra = schema.get("additionalProperties", True)
        for name, item in value.items():
            if name in props:
                problems += validate(doc, props[name], item, f"{path}.{name}")
            elif extra is False:
                problems.append(f"{where}: unexpected {name}")
            elif isinstance(extra, dict):
                problems += validate(doc, extra, item, f"{path}.{name}")
    for sub in schema.get("allOf", []):
        problems += validate(doc, sub, value, path)
    if "anyOf" in schema:
        results = [validate(doc, sub, value, path) for sub in schema["anyOf"]]
        if all(results):
            problems.append(f"{where}: matches no anyOf alternative: {min(results, key=len)}")
    if "oneOf" in schema:
        results = [validate(doc, sub, value, path) for sub in schema["oneOf"]]
        matched = sum(1 for r in results if not r)
        if matched != 1:
            best = min(results, key=len)
            problems.append(f"{where}: matches {matched} oneOf alternatives, not 1: {best}")
    return problems


def _media(content_type: str) -> tuple:
    base, _, params = (content_type or "").partition(";")
    return base.strip().lower(), params.replace(" ", "").lower()


def check(doc: dict, method: str, path_template: str, status: int, body: Any, content_type: str) -> List[str]:
    """Problems of one answer: the operation must list the status, the content
    type must be one the response declares (JSON as application/json;
    charset=utf-8), and a JSON body (bytes, str or parsed) must validate. An
    error body's code must belong to its status (the Error schema's x-status)."""
    op = doc["paths"].get(path_template, {}).get(method.lower())
    if op is None:
        return [f"no operation {method} {path_template}"]
    response = op["responses"].get(str(status))
    if response is None:
        return [f"{method} {path_template}: status {status} not documented (body {str(body)[:200]})"]
    if "$ref" in response:
        response = resolve(doc, response["$ref"])
    content = response.get("content")
    if not content:
        return [] if not body else [f"{method} {path_template} {status}: body where none is documented"]
    base, params = _media(content_type)
    if base not in content:
        return [f"{method} {path_template} {status}: content type {content_type!r} not in {sorted(content)}"]
    if base != "application/json":
        return [] if body else [f"{method} {path_template} {status}: empty {base} body"]
    if params != "charset=utf-8":
        return [f"{method} {path_template} {status}: {content_type!r} lacks charset=utf-8"]
    if isinstance(body, (bytes, str)):
        try:
            body = json.loads(body)
        except ValueError as e:
            return [f"{method} {path_template} {status}: not JSON: {e}"]
    schema = content[base]["schema"]
    problems = [f"{method} {path_template} {status}: {p}" for p in validate(doc, schema, body)]
    if status >= 400 and not problems and isinstance(body, dict):
        wanted = resolve(doc, "#/components/schemas/Error")["x-status"].get(body.get("error"))
        if wanted != status:
            problems.append(f"{method} {path_template}: error {body.get('error')} answered with {status}, not {wanted}")
    return problems


def check_schema(doc: dict, name: str, value: Any) -> List[str]:
    return validate(doc, {"$ref": f"#/components/schemas/{name}"}, value)


def template_of(doc: dict, path: str):
    """The document's path template a concrete (percent-encoded) path matches, or None;
    a parameter stands for one path segment or, before a suffix such as .png, its front."""
    path = path.split("?", 1)[0]
    for template in doc["paths"]:
        pattern = re.sub(r"\\\{[^}]+\\\}", "[^/]+", re.escape(template))
        if re.fullmatch(pattern, path):
            return template
    return None
