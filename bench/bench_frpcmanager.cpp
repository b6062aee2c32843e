#include <cstdio>

int main()
{
    std::puts("not written yet");
    return 0;
}
