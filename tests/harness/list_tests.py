"""Lists the test cases of unittest files, read without running them: one line per case,
"<file>\t<Class>.<method>", in the order of the file. CMake makes a CTest test of each case,
so that CTest spreads the cases of a long file over its parallel jobs."""

import ast
import sys


def base_names(node):
    for base in node.bases:
        if isinstance(base, ast.Name):
            yield base.id
        elif isinstance(base, ast.Attribute):
            yield base.attr


def cases(path):
    with open(path) as f:
        tree = ast.parse(f.read(), path)
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}

    def is_case(node, seen=()):
        return any(name == "TestCase" or (name in classes and name not in seen
                                          and is_case(classes[name], seen + (name,)))
                   for name in base_names(node))

    def methods(node):
        own = [item.name for item in node.body
               if isinstance(item, (ast.FunctionDef, ast.AsyncFunctionDef))
               and item.name.startswith("test")]
        inherited = [name for base in base_names(node) if base in classes
                     for name in methods(classes[base]) if name not in own]
        return own + inherited

    for node in tree.body:
        if isinstance(node, ast.ClassDef) and is_case(node):
            for method in methods(node):
                yield "%s.%s" % (node.name, method)


if __name__ == "__main__":
    for path in sys.argv[1:]:
        for case in cases(path):
            print("%s\t%s" % (path, case))
