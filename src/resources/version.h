// The version of Kestrelink, kept in this one place: the version record of the
// library (kestrelink.rc) is built from it, and the plugin package
// (tools/dist.sh) reads its three numbers for the archive name and the
// installer's pluginst.inf.
#ifndef KL_RESOURCES_VERSION_H
#define KL_RESOURCES_VERSION_H

#define KL_VERSION_MAJOR 1
#define KL_VERSION_MINOR 0
#define KL_VERSION_PATCH 0

#define KL_STRING2(x) #x
#define KL_STRING(x) KL_STRING2(x)
#define KL_VERSION KL_VERSION_MAJOR, KL_VERSION_MINOR, KL_VERSION_PATCH, 0
// The record's fourth number is always 0; its text spells all four.
#define KL_VERSION_TEXT                                                                        \
    KL_STRING(KL_VERSION_MAJOR) "." KL_STRING(KL_VERSION_MINOR) "." KL_STRING(KL_VERSION_PATCH) \
        ".0"

#endif
