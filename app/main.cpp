#include "app/twindial.hpp"

int main() { return app::twindial_main(); }
