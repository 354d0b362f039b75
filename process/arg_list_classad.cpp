// The ClassAd forms of an argument list: reading "Arguments" (V2 raw) or
// "Args" (V1 raw) from a job ad, and writing the form a peer of a given
// version can read. No process-wide state.
#include "classad/attr_names.h"
#include "classad/class_ad.h"
#include "diagnostics/debug_log.h"
#include "process/arg_list.h"
#include "process/arglist_assert.h"
#include "version/torvel_version_info.h"

namespace {

// Sets a string attribute; a value the ad refuses is reported, not lost.
bool assign_string(ClassAd *ad, const char *name, const MyString &value, MyString *error) {
    if (ad->Assign(name, value.Value())) {
        return true;
    }
    MyString message;
    message.sprintf("Failed to insert %s into ClassAd.", name);
    AddErrorMessage(message.Value(), error);
    return false;
}

}  // namespace

bool ArgList::AppendArgsFromClassAd(ClassAd *ad, MyString *error) {
    ARGLIST_ASSERT(ad);
    MyString text;
    if (ad->LookupString(ATTR_JOB_ARGUMENTS2, text) == 1) {
        return AppendArgsV2Raw(text.Value(), error);
    }
    if (ad->LookupString(ATTR_JOB_ARGUMENTS1, text) == 1) {
        return AppendArgsV1Raw(text.Value(), error);
    }
    return true;
}

bool ArgList::GetArgsStringV1or2Raw(ClassAd *ad, MyString *result, MyString *error) {
    if (!AppendArgsFromClassAd(ad, error)) {
        return false;
    }
    return GetArgsStringV1or2Raw(result, error);
}

void ArgList::GetArgsStringForDisplay(ClassAd *ad, MyString *result) {
    ARGLIST_ASSERT(ad);
    ARGLIST_ASSERT(result);
    MyString text;
    if (ad->LookupString(ATTR_JOB_ARGUMENTS2, text) == 1 ||
        ad->LookupString(ATTR_JOB_ARGUMENTS1, text) == 1) {
        *result += text;
    }
}

bool ArgList::TorvelVersionRequiresV1(const TorvelVersionInfo &peer_version) {
    return !peer_version.built_since_version(6, 7, 15);
}

bool ArgList::InsertArgsIntoClassAd(ClassAd *ad, const TorvelVersionInfo *peer_version,
                                    MyString *error) const {
    ARGLIST_ASSERT(ad);
    bool has_args1 = ad->Lookup(ATTR_JOB_ARGUMENTS1) != nullptr;
    bool has_args2 = ad->Lookup(ATTR_JOB_ARGUMENTS2) != nullptr;
    bool requires_v1 =
        peer_version != nullptr ? TorvelVersionRequiresV1(*peer_version) : v1_flavour_unspecified;
    if (!requires_v1) {
        MyString v2;
        GetArgsStringV2Raw(&v2, error);
        if (!assign_string(ad, ATTR_JOB_ARGUMENTS2, v2, error)) {
            return false;
        }
        if (has_args1) {
            ad->Delete(ATTR_JOB_ARGUMENTS1);
        }
        return true;
    }
    if (has_args2) {
        ad->Delete(ATTR_JOB_ARGUMENTS2);
    }
    MyString v1;
    if (GetArgsStringV1Raw(&v1, error)) {
        return assign_string(ad, ATTR_JOB_ARGUMENTS1, v1, error);
    }
    if (peer_version == nullptr || v1_flavour_unspecified) {
        AddErrorMessage("Failed to convert arguments to V1 syntax.", error);
        return false;
    }
    // An old peer simply gets no arguments it would misread.
    if (has_args1) {
        ad->Delete(ATTR_JOB_ARGUMENTS1);
    }
    dprintf(D_FULLDEBUG, "Failed to convert arguments to V1 syntax: %s\n",
            error != nullptr ? error->Value() : "");
    return true;
}
