// The ClassAd type registry and AdType. The registry is one process-wide
// table of type names, grown by doubling and kept for the life of the
// process; a failed allocation ends the process.
#include "classad/ad_type.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "core/strnewp.h"
#include "diagnostics/except.h"

namespace {

const char kOutOfMemory[] = "Warning : you ran out of memory -- quitting !";

}  // namespace

Registration::Registration() : regiTypeNames(nullptr), regiCapacity(10), regiNumber(0) {
    regiTypeNames = static_cast<char **>(malloc(sizeof(char *) * regiCapacity));
    if (regiTypeNames == nullptr) {
        EXCEPT("%s", kOutOfMemory);
    }
}

Registration::~Registration() {
    for (int i = 0; i < regiNumber; ++i) {
        free(regiTypeNames[i]);
    }
    free(regiTypeNames);
}

int Registration::RegisterType(const char *name) {
    for (int i = 0; i < regiNumber; ++i) {
        if (strcasecmp(regiTypeNames[i], name) == 0) {
            return i;
        }
    }
    if (regiNumber == regiCapacity) {
        char **grown =
            static_cast<char **>(realloc(regiTypeNames, sizeof(char *) * regiCapacity * 2));
        if (grown == nullptr) {
            EXCEPT("%s", kOutOfMemory);
        }
        regiTypeNames = grown;
        regiCapacity *= 2;
    }
    char *copy = strdup(name);
    if (copy == nullptr) {
        EXCEPT("%s", kOutOfMemory);
    }
    regiTypeNames[regiNumber] = copy;
    return regiNumber++;
}

Registration &ClassAdTypeRegistry() {
    static Registration registry;
    return registry;
}

AdType::AdType(const char *typeName) : number(-1), name(nullptr) {
    if (typeName == nullptr) {
        name = strnewp("");
        return;
    }
    name = strnewp(typeName);
    number = ClassAdTypeRegistry().RegisterType(typeName);
}

AdType::AdType(const AdType &other) : number(other.number), name(strnewp(other.name)) {}

AdType::~AdType() {
    delete[] name;
}
