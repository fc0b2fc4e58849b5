/* Persistent fuzzing under kivrun and AFL++ (docs/fuzzing.md). Around the
 * code that reads and handles one input:
 *
 *     while (KIVOS_FUZZ_LOOP(1000)) {
 *         read the input (standard input, or the file named on the command line)
 *         handle it
 *     }
 *
 * Run on its own, the body runs once. Run by kivrun as AFL++'s target, kivrun
 * answers the calls itself: it snapshots the machine at the first call and,
 * at each later one, ends the execution and goes back to the snapshot, so
 * that every input starts from the same memory and registers; after `count`
 * executions the loop ends and a fresh process takes over, as with AFL++'s
 * __AFL_LOOP(count). kivrun finds the function by its name in the
 * executable's symbol table: a stripped program runs one input per process. */
#ifndef KIVOS_FUZZ_H
#define KIVOS_FUZZ_H

#ifdef __cplusplus
extern "C" {
#endif

/* 1 while there is an input to handle, then 0. */
int kivos_fuzz_loop(unsigned int count);

#ifdef __cplusplus
}
#endif

#define KIVOS_FUZZ_LOOP(count) kivos_fuzz_loop(count)

#endif
