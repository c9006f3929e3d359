"""yolpt: inspect, change, check and recover folders of yol_vovoruze parameters.

Run ``yolpt --help`` (or ``python -m yolpt --help``) for the commands. The
package is written on the public classes of ``yol_vovoruze`` only.
"""
