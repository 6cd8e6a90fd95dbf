// A small program whose only purpose is its icon resources (iconlib.rc): a real PE file built by the compiler's
// own resource tools, for the resource-extraction tests and as the seed of the hostile-input tests.
int main() {
    return 0;
}
