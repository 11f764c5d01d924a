-- wrk script: echo calls on an open session, as a page posts them.
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
wrk.headers["Origin"] = "https://bench.test"
wrk.body = "Parameter=" .. os.getenv("VELANTO_ECHO_FIELD")
