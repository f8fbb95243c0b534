#include "updater/OrvexUpdateApp.h"

int main() { return OrvexUpdateMain(); }
