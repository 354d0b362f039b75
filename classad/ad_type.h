// ClassAd type names and their numbers. The process-wide Registration
// hands out a small number for each type name on first use, in order, with
// names that differ only in case sharing one number; AdType pairs a name
// with its number.
//
// Process-wide state: the one registry, never shrunk; not safe for
// concurrent use. Running out of memory ends the process.
#ifndef TORVEL_CLASSAD_AD_TYPE_H_
#define TORVEL_CLASSAD_AD_TYPE_H_

class Registration {
 public:
    Registration();
    ~Registration();
    Registration(const Registration &) = delete;
    Registration &operator=(const Registration &) = delete;

    // The index of the registered name equal to name (any case); otherwise
    // a copy of name is added at the end and its index returned.
    // REQUIRES: name is not null.
    int RegisterType(const char *name);
    // Names registered so far.
    int Count() const { return regiNumber; }

 private:
    char **regiTypeNames;  // malloc'd array of strdup copies
    int regiCapacity;
    int regiNumber;
};

// The registry every AdType uses.
Registration &ClassAdTypeRegistry();

class AdType {
 public:
    // With a name: a copy of it and its registered number. With null: the
    // empty name and number -1 (no type).
    explicit AdType(const char *typeName = nullptr);
    ~AdType();
    AdType(const AdType &other);
    AdType &operator=(const AdType &) = delete;

    int number;
    char *name;  // owned (new[]), never null
};

#endif  // TORVEL_CLASSAD_AD_TYPE_H_
