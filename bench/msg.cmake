# Message formatting beside snprintf, and the offset-array sort beside std::sort.
kw_add_bench(msg_bench msg_bench.cpp)
