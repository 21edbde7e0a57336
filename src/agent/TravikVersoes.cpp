// Program entry of the update agent (placeholder until the main form exists).
int main() { return 0; }
