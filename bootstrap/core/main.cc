// Entry of the bootstrapper (placeholder until its flow is in place).
int wmain(int, wchar_t**) { return 0; }
