// Placeholder entry point while the launcher is being written.
int main() { return 0; }
