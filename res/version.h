// The program's version, kept here alone: the version resource takes its numbers and its text
// ("c1.1") from it, and scripts/release.sh names the release after that text.
#define BRINQ_VERSION_MAJOR 1
#define BRINQ_VERSION_MINOR 1
#define BRINQ_TEXT_OF(x) #x
#define BRINQ_VERSION_TEXT_OF(major, minor) "c" BRINQ_TEXT_OF(major) "." BRINQ_TEXT_OF(minor)
#define BRINQ_VERSION_TEXT BRINQ_VERSION_TEXT_OF(BRINQ_VERSION_MAJOR, BRINQ_VERSION_MINOR)
