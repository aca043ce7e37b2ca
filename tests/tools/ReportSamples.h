#pragma once

// A result list and its description as an endpoint and the hub hand them to the report, shared by
// the report's tests and its screenshot.

// A result list as the endpoint writes it: a stream (id 1) that sent 100 frames, the trigger
// (id 2) that counted 98 of them with latency, an HTTP flow without samples that failed, and a
// monitor with two samples.
inline const char* const kResultList =
    R"([{"scenarioid": 7, "timestamp": 1700000000000000000,"flows":[
 {"id": 1, "status": "success", "errormsg": "", "timestamparray": [1700000000000000000, 1700000001000000000, 1700000002000000000], "packetcountarray": [10, 80, 10], "bytecountarray": [1060, 8480, 1060],"timestampfirst": 1700000000100000000, "timestamplast": 1700000002090000000},
 {"id": 2, "status": "success", "errormsg": "", "timestamparray": [1700000000000000000, 1700000001000000000, 1700000002000000000], "packetcountarray": [10, 78, 10], "bytecountarray": [1060, 8268, 1060],"timestampfirst": 1700000000100000000, "timestamplast": 1700000002090000000, "latencyarray": [{"latencymin": 100000, "latencymax": 300000, "latencyavg": 200000, "jitter": 50000}, {"latencymin": 90000, "latencymax": 400000, "latencyavg": 150000, "jitter": 40000}, {}]},
 {"id": 3, "status": "error", "errormsg": "invalid destination address 'x'", "timestamparray": [], "packetcountarray": [], "bytecountarray": []}
],"monitors":[{"id":4,"type":"networkinfo","status":"success","errormsg":"","monitorresult":[{"timestamp": 1700000000000000000,"interfaces": [{"type": "loopback","name": "lo","displayname": "lo","mac": "00:00:00:00:00:00","ipv4": ["127.0.0.1"],"ipv6": [],"ssid": "","bssid": "00:00:00:00:00:00","rssi": -127,"txrate":-1,"rxrate":-1,"channel":-1}, {"type": "wifi_ieee80211","name": "wlan0","displayname": "wlan0","mac": "a4:c3:f0:11:22:33","ipv4": [],"ipv6": [],"ssid": "lab","bssid": "00:11:22:33:44:55","rssi": -52,"txrate":144400000,"rxrate":144400000,"channel":36}]}, {"timestamp": 1700000001000000000,"interfaces": []}]}]}])";

inline const char* const kDescription = R"({"scenarioid": 7, "duration": 2000000000, "flows": [
 {"id": 1, "flowtype": "streamv4", "flow": {"srcport": 5000, "dstport": 6000,
  "dstipv4": "127.0.0.1", "interframegap": 20000000, "numberofframes": 100}},
 {"id": 2, "flowtype": "triggerv4", "flow": {"srcport": 5000, "dstport": 6000,
  "srcipv4": "127.0.0.1"}},
 {"id": 3, "flowtype": "tcpv4", "flow": {"requestmethod": "get"}}]})";
