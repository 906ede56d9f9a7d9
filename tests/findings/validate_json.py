"""Validates a JSON document against a JSON schema (Draft 7) and prints every violation.

usage: validate_json.py <schema.json> <document.json>; exit status 0 when valid, 1 otherwise.
"""
import json
import sys

import jsonschema


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    with open(sys.argv[2], encoding="utf-8") as f:
        doc = json.load(f)
    validator = jsonschema.Draft7Validator(schema)
    errors = sorted(validator.iter_errors(doc), key=lambda e: list(e.path))
    for e in errors:
        print("/".join(str(p) for p in e.path) + ": " + e.message)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
