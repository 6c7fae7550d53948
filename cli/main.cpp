// vk61-efis-cli: the product, linked to the system hidapi.
#include "cli_main.h"

int main(int argc, char* argv[]) { return vk61::cli::cli_main(argc, argv, "vk61-efis-cli", "vk61-efis-config"); }
