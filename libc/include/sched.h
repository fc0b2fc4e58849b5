/* Scheduling (the kit's extension): declared for g++'s C++ library, which
 * names these calls beside the thread calls of pthread.h. kivos runs one
 * flow of control per process: see pthread.h. */
#ifndef KIV_SCHED_H
#define KIV_SCHED_H

#ifdef __cplusplus
extern "C" {
#endif

struct sched_param {
    int sched_priority;
};

int sched_yield(void);
int sched_get_priority_max(int policy);
int sched_get_priority_min(int policy);

#ifdef __cplusplus
}
#endif

#endif
