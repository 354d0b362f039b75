// The service account of every test program. A root process without one
// (no account named like the distribution, TORVEL_IDS unset) ends at its
// first switch to the service account, which every debug line makes. So
// when TORVEL_IDS is unset, the test program's own real ids become the
// service account before any test runs: switches to it then change no ids,
// whatever accounts the machine has. A test that needs another service
// account sets TORVEL_IDS in a child of its own before that child's first
// switch (the ids are learned once per process).
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

struct OwnIdsAsServiceAccount {
    OwnIdsAsServiceAccount() {
        if (getenv("TORVEL_IDS") == nullptr) {
            char ids[64];
            snprintf(ids, sizeof ids, "%u.%u", static_cast<unsigned>(getuid()),
                     static_cast<unsigned>(getgid()));
            setenv("TORVEL_IDS", ids, 0);
        }
    }
} own_ids_as_service_account;

}  // namespace
