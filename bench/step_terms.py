#!/usr/bin/env python3
# Calls and inclusive instructions per solver step of the terms of a step, from two callgrind
# outputs of korvan_bench_rcpsp (BM_StepMedian on j30 and on j120) and their step counts:
#   valgrind --tool=callgrind --callgrind-out-file=j30.out korvan_bench_rcpsp --benchmark_filter=BM_StepMedian/0/1/
#   step_terms.py j30.out STEPS j120.out STEPS   (STEPS: the steps= counter each run printed)
import re
import sys

def parse(path):
    names={}; calls={}; incl={}
    cur_cfn=None
    fn_re=re.compile(r'^(c?fn)=\((\d+)\)(?: (.*))?$')
    with open(path,errors='replace') as f:
        pending=None
        for line in f:
            line=line.rstrip('\n')
            m=fn_re.match(line)
            if m:
                kind,i,name=m.groups()
                if name: names[i]=name
                if kind=='cfn': cur_cfn=i
                continue
            if line.startswith('calls='):
                n=int(line.split('=')[1].split()[0]); calls[cur_cfn]=calls.get(cur_cfn,0)+n
                pending=cur_cfn; continue
            if pending is not None:
                parts=line.split()
                if len(parts)>=2: incl[pending]=incl.get(pending,0)+int(parts[1])
                pending=None
    return names,calls,incl
terms=[("solver step","KORVAN::SOLVERS::Solver::step()"),
("profile recompute (incremental levels)","KORVAN::MIRT::Profile::handleRecompute()"),
("instants recomputed (totals)","KORVAN::MIRT::Profile::computeTotals"),
("openings handled","KORVAN::MIRT::IncrementalFlowProfile::enableOrderings"),
("max-flow runs","KORVAN::MIRT::MaximumFlowAlgorithm::execute(bool)"),
("nearest selection","KORVAN::MIRT::FlowProfileGraph::selectNearest"),
("ordering look-ups","KORVAN::MIRT::FlowProfile::lookupOrdering"),
("orderings computed (cache misses)","KORVAN::MIRT::FlowProfile::computeOrdering"),
("distance rows searched","KORVAN::TemporalNetwork::getRow"),
("residual walks","KORVAN::MIRT::FlowProfileGraph::disableReachableResidualGraph"),
("threat choices","KORVAN::MIRT::ThreatDecisionPoint::handleInitialize()"),
("window re-filing","KORVAN::MIRT::Profile::handleRestriction"),
("flaw records","KORVAN::MIRT::Resource::notifyFlawed"),
("temporal propagation","KORVAN::TemporalPropagator::narrow"),
("cache check","KORVAN::MIRT::FlowProfile::noteOutsideChanges"),
]
a=parse(sys.argv[1]); sa=float(sys.argv[2]); b=parse(sys.argv[3]); sb=float(sys.argv[4])
def pick(p,prefix):
    names,calls,incl=p; c=0; ir=0
    for i,n in names.items():
        if n.startswith(prefix): c+=calls.get(i,0); ir+=incl.get(i,0)
    return c,ir
print("| term | calls per step j30 | j120 | ratio | instructions per step j30 | j120 | ratio |")
print("|---|---|---|---|---|---|---|")
for label,prefix in terms:
    c1,i1=pick(a,prefix); c2,i2=pick(b,prefix)
    r=lambda x,y: ("%.1fx"%(y/x)) if x else "-"
    print("| %s | %.0f | %.0f | %s | %.2fM | %.2fM | %s |"%(label,c1/sa,c2/sb,r(c1/sa,c2/sb),i1/sa/1e6,i2/sb/1e6,r(i1/sa,i2/sb)))
