// The distribution name and its three spellings.
#include "config/distribution.h"

#include <string.h>

Distribution myDistribution;
Distribution *myDistro = &myDistribution;

void Distribution::SetDistribution(const char *name) {
    if (name == nullptr) {
        name = "";
    }
    size_t length = strnlen(name, kMaxLength);
    memcpy(distribution_, name, length);
    distribution_[length] = '\0';
    for (size_t i = 0; i <= length; ++i) {
        char c = distribution_[i];
        distribution_uc_[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        distribution_cap_[i] = c;
    }
    if (distribution_cap_[0] >= 'a' && distribution_cap_[0] <= 'z') {
        distribution_cap_[0] = static_cast<char>(distribution_cap_[0] - 'a' + 'A');
    }
    distribution_length_ = static_cast<int>(length);
}

int Distribution::Init(int argc, char **argv) {
    const char *program = (argc > 0 && argv != nullptr) ? argv[0] : nullptr;
    if (program != nullptr &&
        (strstr(program, "mossfen") != nullptr || strstr(program, "Mossfen") != nullptr ||
         strstr(program, "MOSSFEN") != nullptr)) {
        SetDistribution("mossfen");
    } else {
        SetDistribution("torvel");
    }
    return 1;
}
