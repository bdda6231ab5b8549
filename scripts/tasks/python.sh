# python: print the interpreter the tasks use (PEMRIK_PYTHON picks another)
#
# print the path of the interpreter the other tasks would use
# (PEMRIK_PYTHON=3.12 picks another minor version), or fail saying why.
#   bash scripts/dev.sh python
find_python
