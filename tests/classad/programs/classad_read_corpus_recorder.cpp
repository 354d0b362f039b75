// Writes the reading corpus (format in tests/classad/read_corpus.h) to
// standard output: every generated machine ad of the recorded seeds read
// through each reader, with what this build's readers made of it. Run it
// only to re-record after a deliberate change of what the readers answer:
//     classad_read_corpus_recorder > tests/classad/data/read_corpus.txt
#include <stdio.h>

#include <string>
#include <vector>

#include "tests/classad/read_corpus.h"

const char *mySubSystem = "TOOL";

int main() {
    for (int seed = 0; seed < read_corpus::kSeeds; seed++) {
        for (const char *form : read_corpus::kForms) {
            for (const std::string &line : read_corpus::Describe(seed, form)) {
                printf("%s\n", line.c_str());
            }
        }
    }
    return 0;
}
