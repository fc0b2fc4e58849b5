// File streams, one scenario per run (argv[1]), so the host can read from
// the trace which system calls each operation makes. Values are checked
// here; the exit status is the failure count.
#include "check.h"
#include "stdio.h"

namespace {

void read_ten_bytes() {
    FILE *f = fopen("ten.txt", "r");
    if (f == nullptr) return check_fail(__FILE__, __LINE__, "fopen");
    char buffer[12];
    CHECK_EQ(fread(buffer, 4, 3, f), 2);
    CHECK_EQ(feof(f), 1);
    CHECK_EQ(fread(buffer, 4, 3, f), 0);
    CHECK_EQ(ftell(f), 10);
    rewind(f);
    CHECK_EQ(fgetc(f), '0');
    CHECK_EQ(fclose(f), 0);
}

void write_nothing() { CHECK_EQ(fclose(fopen("empty.txt", "w")), 0); }

void write_content() {
    FILE *f = fopen("out.txt", "w");
    CHECK_EQ(fprintf(f, "n=%d", 5), 3);
    CHECK_EQ(fputs(" ok", f), 3);
    CHECK_EQ(fclose(f), 0);
}

void write_into_missing_directory() {
    FILE *f = fopen("missing/out.txt", "w");
    CHECK_EQ(fputs("data", f), 4);
    CHECK_EQ(fclose(f), -1);
}

// Reading and positioning where they have no meaning: refused without a
// system call, eof left as it was.
void refused() {
    char *text;
    size_t size;
    char byte;
    FILE *const streams[] = {open_memstream(&text, &size), fopen("never.txt", "w"), stdin, stdout, stderr};
    for (FILE *stream : streams) {
        CHECK_EQ(fseek(stream, 0, SEEK_SET), -1);
        CHECK_EQ(ftell(stream), -1);
        if (stream->kind == KIV_FILE_DESCRIPTOR) continue;
        CHECK_EQ(fread(&byte, 1, 1, stream), 0);
        CHECK_EQ(fgetc(stream), -1);
        CHECK_EQ(feof(stream), 0);
        rewind(stream);
    }
}

void read_characters() {
    CHECK_EQ(getchar(), 'a');
    CHECK_EQ(getchar(), 'b');
    CHECK_EQ(getchar(), -1);
    CHECK_EQ(feof(stdin), 1);
}

struct Scenario {
    const char *name;
    void (*run)();
};

const Scenario kScenarios[] = {
    {"read-ten-bytes", read_ten_bytes},
    {"write-nothing", write_nothing},
    {"write-content", write_content},
    {"write-into-missing-directory", write_into_missing_directory},
    {"refused", refused},
    {"read-characters", read_characters},
};

bool same_text(const char *a, const char *b) {
    while (*a != '\0' && *a == *b) a++, b++;
    return *a == *b;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return 100;
    for (const Scenario &scenario : kScenarios) {
        if (!same_text(scenario.name, argv[1])) continue;
        scenario.run();
        return g_check_failures;
    }
    return 101;
}
