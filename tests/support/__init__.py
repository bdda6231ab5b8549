"""Helpers shared by the tests, one submodule per concern."""
