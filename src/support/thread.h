// Detached worker threads.
#pragma once

// Starts a detached thread running fn(arg) with every signal blocked except
// SIGALRM, which interrupts its blocking calls on cancel. Returns 0 or -1.
int start_worker(void* (*fn)(void*), void* arg);

// Blocks every signal in the calling thread (done once at start-up, so that
// threads created later inherit it).
void block_all_signals();
