// The entry point of gt3_gahp_launcher. Loads the configuration, checks that
// the Java virtual machine's GT3 installation holds every jar the GAHP server
// needs, puts the class path into the environment and replaces the process
// with the virtual machine running the server class. Writes CLASSPATH into
// the process environment and changes the working directory; prints nothing
// unless something is missing. Command-line arguments are ignored.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/config_startup.h"
#include "config/param.h"
#include "config/subsystem.h"
#include "core/my_string.h"
#include "files/path_helpers.h"
#include "nbx/wrap_exec.h"

const char *mySubSystem = "TOOL";

namespace {

// The jars of the GT3 installation's "lib" directory, in stored order. The
// class path is built walking this table from its last entry down, so it
// begins with xmlsec.jar and ends with axis.jar.
const char * const kGt3Jars[] = {
    "axis.jar",
    "casClients.jar",
    "cas.jar",
    "casServer.jar",
    "casTests.jar",
    "cog-axis.jar",
    "cog-jglobus.jar",
    "cog-tomcat.jar",
    "commons-collections.jar",
    "commons-dbcp.jar",
    "commons-discovery.jar",
    "commons-logging.jar",
    "commons-pool.jar",
    "cryptix32.jar",
    "cryptix-asn1.jar",
    "cryptix.jar",
    "exolabcore-0.3.5.jar",
    "filestreaming.jar",
    "gram-rips.jar",
    "grim.jar",
    "gt3-gahp.jar",
    "jaxrpc.jar",
    "jboss-j2ee.jar",
    "jce-jdk13-120.jar",
    "jgss.jar",
    "jug-1.0.1.jar",
    "log4j-1.2.8.jar",
    "mds-aggregator.jar",
    "mds-db.jar",
    "mds-index.jar",
    "mds-providers.jar",
    "mjs.jar",
    "mmjfs.jar",
    "multirft.jar",
    "ogsa.jar",
    "ogsa_messaging_jms.jar",
    "ogsa-samples.jar",
    "openjms-0.7.5.jar",
    "opensaml.jar",
    "pg73jdbc2.jar",
    "puretls.jar",
    "saaj.jar",
    "sdb.jar",
    "servlet.jar",
    "wsdl4j.jar",
    "wsif.jar",
    "xalan.jar",
    "xercesImpl.jar",
    "xindice-1.1b3.jar",
    "xindice-servicegroup.jar",
    "xindice-servicegroup-stub.jar",
    "xml-apis-1.1.jar",
    "xmldb-api-20021118.jar",
    "xmldb-api-sdk-20021118.jar",
    "xmldb-common.jar",
    "xmldb-xupdate.jar",
    "xmlParserAPIs.jar",
    "xmlrpc-1.1.jar",
    "xmlsec.jar",
};
const int kGt3JarCount = sizeof(kGt3Jars) / sizeof(kGt3Jars[0]);
static_assert(sizeof(kGt3Jars) / sizeof(kGt3Jars[0]) == 59, "the GT3 jar table has 59 entries");

const char kWebrootOption[] = "-Dorg.globus.ogsa.server.webroot=";

// Releases the configuration values and ends the process with the status of
// every detected problem.
[[noreturn]] void exit_failed(char *java, char *location) {
    free(java);
    free(location);
    exit(1);
}

// Appends the full path of every jar to classpath, joined with ":", from the
// last table entry down. At the first jar that cannot be examined, prints its
// bare name and returns false.
bool append_jar_paths(const char *location, MyString &classpath) {
    for (int i = kGt3JarCount - 1; i >= 0; --i) {
        char *lib_dir = dircat(location, "lib");
        char *path = dircat(lib_dir, kGt3Jars[i]);
        struct stat status;
        bool present = stat(path, &status) == 0;
        if (present) {
            classpath += path;
            if (i > 0) {
                classpath += ":";
            }
        }
        delete[] path;
        delete[] lib_dir;
        if (!present) {
            fprintf(stderr, "ERROR: Missing required jar file %s!\n", kGt3Jars[i]);
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    config(0);

    char *java = param("JAVA");
    if (java == nullptr) {
        fprintf(stderr, "ERROR: JAVA not defined in your Torvel config file!\n");
        exit(1);
    }
    char *location = param("GT3_LOCATION");
    if (location == nullptr) {
        fprintf(stderr, "ERROR: GT3_LOCATION not defined in your Torvel config file!\n");
        exit_failed(java, location);
    }

    // Only existence matters here: a plain file passes and fails at the jars.
    struct stat status;
    if (stat(location, &status) != 0) {
        fprintf(stderr, "ERROR: Invalid GT3_LOCATION: %s\n", location);
        exit_failed(java, location);
    }

    MyString classpath("CLASSPATH=");
    if (!append_jar_paths(location, classpath)) {
        exit_failed(java, location);
    }

    // The environment keeps pointing at the copy, so it is never freed.
    fflush(stdout);
    putenv(strdup(classpath.Value()));

    MyString webroot(kWebrootOption);
    webroot += location;
    char *webroot_arg = strdup(webroot.Value());
    char server_class[] = "torvel.gahp.Gahp";
    char * const java_argv[] = {java, webroot_arg, server_class, nullptr};

    if (chdir(location) < 0) {
        fprintf(stderr, "ERROR: Unable to cd into %s!\n", location);
        free(webroot_arg);
        exit_failed(java, location);
    }

    // Returns only when the exec fails; its -1 becomes exit status 255.
    int result = __wrap_execv(java, java_argv);
    free(java);
    free(webroot_arg);
    free(location);
    return result;
}
