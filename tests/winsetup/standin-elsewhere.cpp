// A powershell.exe planted beside the program, where the search path looks
// first: it only tells that it was the one started.
int main()
{
    return 42;
}
