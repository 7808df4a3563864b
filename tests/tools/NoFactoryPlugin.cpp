// A plug-in library that loads but exports no CreateBrick, for the host's error path.
extern "C" __attribute__((visibility("default"))) int CreateBrickNot()
{
    return 0;
}
