/* A minimal program for the code-section digest test: a few instructions in .text, no C runtime. */
int entry(void) {
    volatile int sum = 0;
    for (int i = 0; i < 10; ++i) {
        sum += i;
    }
    return sum;
}
