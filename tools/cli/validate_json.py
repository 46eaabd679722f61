#!/usr/bin/env python3
"""Checks that a file holds exactly one JSON document valid against a JSON schema.

Usage: validate_json.py SCHEMA DOCUMENT
Exit 0 valid, 1 invalid (the reasons on stderr), 77 when python3-jsonschema
is missing (scripts/setup installs it).
"""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("SKIP: python3-jsonschema is not installed", file=sys.stderr)
    sys.exit(77)


def main() -> int:
    schema_path, document_path = sys.argv[1], sys.argv[2]
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    with open(document_path, encoding="utf-8") as f:
        text = f.read()
    try:
        document = json.loads(text)  # one document: trailing text fails
    except json.JSONDecodeError as e:
        print(f"{document_path}: not one JSON document: {e}", file=sys.stderr)
        return 1
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    errors = sorted(validator_class(schema).iter_errors(document), key=lambda e: list(e.path))
    for e in errors:
        where = "/".join(str(p) for p in e.path) or "(document)"
        print(f"{document_path}: {where}: {e.message}", file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
