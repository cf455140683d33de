// A library that must never be picked up by its bare name from the current
// or the program's folder once the search is hardened.
extern "C" __declspec(dllexport) int orvel_plant() { return 1; }
