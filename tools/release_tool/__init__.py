"""Verbs of tools/release, one module each."""
