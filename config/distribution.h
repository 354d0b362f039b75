// The distribution name ("torvel") from which distribution-dependent file,
// directory, variable and attribute names are built, in lower case, upper
// case and capitalised form. Read it through myDistro.
#ifndef TORVEL_CONFIG_DISTRIBUTION_H_
#define TORVEL_CONFIG_DISTRIBUTION_H_

class Distribution {
 public:
    // Sets "torvel". Constant-initialised, so myDistro reads "torvel" even
    // from other static initialisers.
    constexpr Distribution() = default;

    // Keeps at most 20 characters of name (null is taken as "").
    void SetDistribution(const char *name);
    // "mossfen" when argv[0] contains "mossfen", "Mossfen" or "MOSSFEN",
    // otherwise "torvel"; returns 1.
    int Init(int argc, char **argv);

    // Borrowed: owned by the object, changed by SetDistribution and Init.
    const char *Get() const { return distribution_; }
    const char *GetUc() const { return distribution_uc_; }
    const char *GetCap() const { return distribution_cap_; }
    int GetLen() const { return distribution_length_; }

 private:
    static constexpr int kMaxLength = 20;
    char distribution_[kMaxLength + 1] = "torvel";
    char distribution_uc_[kMaxLength + 1] = "TORVEL";
    char distribution_cap_[kMaxLength + 1] = "Torvel";
    int distribution_length_ = 6;
};

extern Distribution myDistribution;
extern Distribution *myDistro;  // points to myDistribution

#endif  // TORVEL_CONFIG_DISTRIBUTION_H_
