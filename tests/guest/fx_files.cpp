// File streams, one scenario per run (argv[1]), so the host can read from
// the trace which system calls each operation makes. Values are checked
// here; the exit status is the failure count.
#include "check.h"
#include "stdio.h"

namespace {

int read_ten_bytes() {
    FILE *f = fopen("ten.txt", "r");
    if (f == nullptr) {
        check_fail(__FILE__, __LINE__, "fopen");
        return 0;
    }
    char buffer[12];
    CHECK_EQ(fread(buffer, 4, 3, f), 2);
    CHECK_EQ(feof(f), 1);
    CHECK_EQ(fread(buffer, 4, 3, f), 0);
    CHECK_EQ(ftell(f), 10);
    rewind(f);
    CHECK_EQ(fgetc(f), '0');
    CHECK_EQ(fclose(f), 0);
    return 0;
}

int write_nothing() {
    CHECK_EQ(fclose(fopen("empty.txt", "w")), 0);
    return 0;
}

int write_content() {
    FILE *f = fopen("out.txt", "w");
    CHECK_EQ(fprintf(f, "n=%d", 5), 3);
    CHECK_EQ(fputs(" ok", f), 3);
    CHECK_EQ(fclose(f), 0);
    return 0;
}

int write_into_missing_directory() {
    FILE *f = fopen("missing/out.txt", "w");
    CHECK_EQ(fputs("data", f), 4);
    CHECK_EQ(fclose(f), -1);
    return 0;
}

// Reading and positioning where they have no meaning: refused without a
// system call, eof left as it was.
int refused() {
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
    return 0;
}

int read_characters() {
    CHECK_EQ(getchar(), 'a');
    CHECK_EQ(getchar(), 'b');
    CHECK_EQ(getchar(), -1);
    CHECK_EQ(feof(stdin), 1);
    return 0;
}

const check_scenario kScenarios[] = {
    {"read-ten-bytes", read_ten_bytes},
    {"write-nothing", write_nothing},
    {"write-content", write_content},
    {"write-into-missing-directory", write_into_missing_directory},
    {"refused", refused},
    {"read-characters", read_characters},
};

}  // namespace

int main(int argc, char **argv) { return check_run_scenario(argc, argv, kScenarios, CHECK_SCENARIO_COUNT(kScenarios)); }
