// A second process that changes a registry store:
//   registry_child STORE ROOT KEY NAME TEXT    write TEXT as value NAME of KEY (ROOT as its
//                                              number); exit 0 when written
//   registry_child STORE ROOT KEY --delete     delete KEY with everything below it
#include "platform/RegistryStore.h"

#include <cstdlib>
#include <string>

using namespace morvane;

int main(int argc, char** argv)
{
    if (argc < 5)
        return 2;
    RegistryStore store(argv[1]);
    const auto root = static_cast<RegistryRoot>(std::atoi(argv[2]));
    if (std::string(argv[4]) == "--delete")
        return store.DeleteKey(root, argv[3]) ? 0 : 1;
    if (argc != 6)
        return 2;
    return store.WriteValue(root, argv[3], argv[4], argv[5]) ? 0 : 1;
}
