// The four relocatable objects as files: each is an x86-64 ELF relocatable
// object that defines exactly its functions and data, and asks its linking
// program only for the symbols it is documented to expect plus the C library.
#include <elf.h>
#include <gtest/gtest.h>
#include <link.h>
#include <stdio.h>
#include <string.h>

#include <set>
#include <string>

#include "tests/objects/probe_runner.h"

namespace torvel_objects_test {
namespace {

using Names = std::set<std::string>;

std::string find_in_path(const std::string &program) {
    const char *path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t colon = dirs.find(':', start);
        std::string dir =
            dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    return program;
}

struct SymbolTable {
    Names defined;    // global and weak definitions
    Names undefined;  // references to other objects
};

// nm's portable output: "name type [value size]" per line.
SymbolTable read_symbols(const std::vector<std::string> &nm_args) {
    std::vector<std::string> argv{find_in_path("nm"), "-P"};
    argv.insert(argv.end(), nm_args.begin(), nm_args.end());
    RunResult run = run_program(argv);
    EXPECT_EQ(run.status, 0) << "nm failed on " << nm_args.back();
    SymbolTable table;
    size_t start = 0;
    while (start < run.out.size()) {
        size_t end = run.out.find('\n', start);
        if (end == std::string::npos) {
            end = run.out.size();
        }
        std::string line = run.out.substr(start, end - start);
        start = end + 1;
        size_t blank = line.find(' ');
        if (blank == std::string::npos || blank + 1 >= line.size()) {
            continue;
        }
        std::string name = line.substr(0, blank);
        char type = line[blank + 1];
        size_t at = name.find('@');  // versioned names in the C library
        if (at != std::string::npos) {
            name.resize(at);
        }
        if (type == 'U') {
            table.undefined.insert(name);
        } else if (type == 'w' || type == 'v' || type == 'i' || type == 'u' ||
                   (type >= 'A' && type <= 'Z')) {
            table.defined.insert(name);
        }
    }
    return table;
}

int find_libc(struct dl_phdr_info *info, size_t, void *data) {
    if (info->dlpi_name != nullptr && strstr(info->dlpi_name, "/libc.so.") != nullptr) {
        *static_cast<std::string *>(data) = info->dlpi_name;
        return 1;
    }
    return 0;
}

// What the C library this test runs with defines.
const Names &libc_symbols() {
    static const Names names = [] {
        std::string libc;
        dl_iterate_phdr(find_libc, &libc);
        EXPECT_FALSE(libc.empty()) << "the C library is not among the loaded objects";
        return libc.empty() ? Names{} : read_symbols({"-D", "--defined-only", libc}).defined;
    }();
    return names;
}

class ObjectSymbolsTest : public ::testing::Test {
 protected:
    // Checks the defined symbols exactly, and that the undefined ones are the
    // expected ones plus only what the C library supplies.
    void check(const std::string &object, const Names &defines, const Names &expects) {
        SCOPED_TRACE(object);
        SymbolTable table = read_symbols({object_path(object)});
        EXPECT_EQ(table.defined, defines);
        for (const std::string &name : expects) {
            EXPECT_EQ(table.undefined.count(name), 1u) << "does not ask for " << name;
        }
        ASSERT_FALSE(libc_symbols().empty());
        for (const std::string &name : table.undefined) {
            if (expects.count(name) == 0) {
                EXPECT_EQ(libc_symbols().count(name), 1u)
                    << name << " is neither expected from the program nor in the C library";
            }
        }
    }
};

TEST_F(ObjectSymbolsTest, EveryObjectIsAnX8664RelocatableElfFile) {
    for (const char *name : {"bounded_printf", "arg_splitter", "dprintf_shim", "file_lock"}) {
        SCOPED_TRACE(name);
        FILE *file = fopen(object_path(name).c_str(), "rb");
        ASSERT_NE(file, nullptr);
        Elf64_Ehdr header;
        size_t got = fread(&header, 1, sizeof header, file);
        fclose(file);
        ASSERT_EQ(got, sizeof header);
        EXPECT_EQ(memcmp(header.e_ident, ELFMAG, SELFMAG), 0);
        EXPECT_EQ(header.e_ident[EI_CLASS], ELFCLASS64);
        EXPECT_EQ(header.e_type, ET_REL);
        EXPECT_EQ(header.e_machine, EM_X86_64);
    }
}

TEST_F(ObjectSymbolsTest, BoundedPrintfHasTheFourFormattingFunctions) {
    check("bounded_printf",
          {"printf_length", "vprintf_length", "torvel_snprintf", "torvel_vsnprintf"}, {});
}

TEST_F(ObjectSymbolsTest, ArgSplitterHasTheSplitterAndItsAlias) {
    check("arg_splitter", {"_torvel_mkargv", "mkargv"}, {});
}

TEST_F(ObjectSymbolsTest, DprintfShimHasTheEntryTheParserAndTheGlobals) {
    check("dprintf_shim",
          {"dprintf", "_torvel_set_debug_flags", "set_debug_flags", "DebugFlags",
           "_torvel_dprintf_works", "_torvel_DebugFlagNames"},
          {"_torvel_dprintf_va", "_torvel_mkargv"});
}

TEST_F(ObjectSymbolsTest, FileLockHasLockFileAndAsksForFlockParamAndDprintf) {
    check("file_lock", {"lock_file"}, {"flock", "param", "dprintf"});
}

// A C++ name in an object means a program written in C could not link it.
TEST_F(ObjectSymbolsTest, NoObjectCarriesCxxNames) {
    for (const char *name : {"bounded_printf", "arg_splitter", "dprintf_shim", "file_lock"}) {
        SymbolTable table = read_symbols({object_path(name)});
        for (const Names *names : {&table.defined, &table.undefined}) {
            for (const std::string &symbol : *names) {
                EXPECT_NE(symbol.rfind("_Z", 0), 0u) << name << ": " << symbol;
            }
        }
    }
}

}  // namespace
}  // namespace torvel_objects_test
